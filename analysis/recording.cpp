#include "analysis/recording.h"

#include <algorithm>
#include <stdexcept>

namespace analysis {

void CMemoryRecording::Read(std::uint64_t first, std::size_t count, double* out) {
    if (first > m_nFrames || count > m_nFrames - first) {
        throw std::out_of_range(m_strName + ": frames " + std::to_string(first) + " to " +
                                std::to_string(first + count) + " are beyond its " +
                                std::to_string(m_nFrames));
    }
    const auto channels = static_cast<std::size_t>(m_nChannels);
    std::copy_n(m_pSamples + first * channels, count * channels, out);
}

} // namespace analysis
