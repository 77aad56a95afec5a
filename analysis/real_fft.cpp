#include "analysis/real_fft.h"

#include <kissfft/kissfft.hh>
#include <stdexcept>

namespace analysis {

struct CRealFft::CEngine {
    explicit CEngine(std::size_t half) : m_fft(half, false) {}
    kissfft<double> m_fft;
};

CRealFft::CRealFft(std::size_t frames) : m_nFrames(frames) {
    if (frames < 2 || frames % 2 != 0) {
        throw std::invalid_argument("a real FFT needs an even length of at least 2");
    }
    m_pEngine = std::make_unique<CEngine>(frames / 2);
}

CRealFft::~CRealFft() = default;

void CRealFft::Transform(const double* in, std::complex<double>* out) const {
    m_pEngine->m_fft.transform_real(in, out);
    // transform_real packs the real bin M/2 into bin 0's imaginary part; bin 0 of a real input is real.
    out[0] = std::complex<double>(out[0].real(), 0.0);
}

} // namespace analysis
