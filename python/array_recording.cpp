#include "python/array_recording.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace py = pybind11;

CArrayRecording::CArrayRecording(const py::array& samples, double sampleRate, std::optional<double> fullScale)
    : m_dSampleRate(sampleRate) {
    if (samples.ndim() != 1 && samples.ndim() != 2) {
        throw py::value_error("a recording is an array of shape (frames,) or (frames, channels), not of " +
                              std::to_string(samples.ndim()) + " dimensions");
    }
    const char kind = samples.dtype().kind();
    if (kind != 'f' && kind != 'i') {
        throw py::value_error("a recording holds real numbers (float or signed int), not dtype " +
                              std::string(py::str(samples.dtype())));
    }
    if (fullScale && !(*fullScale > 0.0 && std::isfinite(*fullScale))) {
        throw py::value_error("full_scale must be a number above 0");
    }
    m_nFrames = static_cast<std::uint64_t>(samples.shape(0));
    m_nChannels = samples.ndim() == 2 ? static_cast<int>(samples.shape(1)) : 1;
    if (m_nFrames == 0 || m_nChannels == 0) {
        throw py::value_error("the recording holds no samples");
    }
    m_bFloat = kind == 'f';
    // Signed integers against their largest value, as the file reader takes integer files.
    const double scale = fullScale  ? *fullScale
                         : m_bFloat ? 1.0
                                    : std::ldexp(1.0, 8 * static_cast<int>(samples.itemsize()) - 1) - 1.0;
    m_strFormat = "array of " + std::string(py::str(samples.dtype())) + ", " + std::to_string(m_nChannels) +
                  (m_nChannels == 1 ? " channel" : " channels");
    // Any layout and type, as C-ordered doubles (a copy numpy makes).
    const auto doubles = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(samples);
    if (!doubles && PyErr_Occurred() == nullptr && samples.nbytes() > 0 &&
        static_cast<double>(samples.size()) * sizeof(double) > 1e15) {
        throw std::bad_alloc(); // pybind11 raises MemoryError
    }
    if (!doubles && PyErr_ExceptionMatches(PyExc_MemoryError)) {
        throw py::error_already_set(); // the copy did not fit: MemoryError, as numpy says
    }
    if (!doubles) {
        throw py::value_error("the recording's samples cannot be read as numbers");
    }
    m_aSamples.resize(static_cast<std::size_t>(doubles.size()));
    std::memcpy(m_aSamples.data(), doubles.data(), m_aSamples.size() * sizeof(double));
    // A full scale of 2^k - 1 is taken in the file reader's two steps (libsndfile's division by 2^k,
    // then its factor 2^k / (2^k - 1)), so that the same samples give the very same doubles.
    int exponent = 0;
    const double top = scale + 1.0;
    if (std::frexp(top, &exponent) == 0.5) {
        const double factor = top / scale;
        for (double& sample : m_aSamples) {
            sample = (sample / top) * factor;
        }
    } else if (scale != 1.0) {
        for (double& sample : m_aSamples) {
            sample /= scale;
        }
    }
}

void CArrayRecording::Read(std::uint64_t first, std::size_t count, double* out) {
    if (first > m_nFrames || count > m_nFrames - first) {
        throw std::runtime_error("the array: frames " + std::to_string(first) + " to " +
                                 std::to_string(first + count) + " lie beyond its " +
                                 std::to_string(m_nFrames));
    }
    const std::size_t channels = static_cast<std::size_t>(m_nChannels);
    std::copy_n(m_aSamples.data() + first * channels, count * channels, out);
}
