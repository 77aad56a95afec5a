#pragma once

#include <complex>
#include <cstddef>
#include <memory>

namespace analysis {

// The discrete Fourier transform of a real sequence, by KissFFT's double-precision template:
// X_k = sum over n of x_n e^(-2 pi i k n / M) for k = 0 .. M/2 - 1 (bin M/2 is not returned).
class CRealFft {
public:
    // `frames` (M) must be even and at least 2.
    explicit CRealFft(std::size_t frames);
    ~CRealFft();
    CRealFft(const CRealFft&) = delete;
    CRealFft& operator=(const CRealFft&) = delete;

    std::size_t Frames() const { return m_nFrames; }
    // Transforms M samples at `in` into M/2 bins at `out`.
    void Transform(const double* in, std::complex<double>* out) const;

private:
    struct CEngine;
    std::size_t m_nFrames;
    std::unique_ptr<CEngine> m_pEngine;
};

} // namespace analysis
