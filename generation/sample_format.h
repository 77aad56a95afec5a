#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

// The sample formats a file may hold, each with one per-frame definition: the job's steps (for
// 16-bit, the original ones) with the format's full scale S in place of 32767,
//     mother = bank sample x S,  daughters = (daughter 1 + daughter 2) x S,
//     right = (reference x S) x 0.9,  left = daughters + mother,
// each channel then multiplied by the fade's gain where a fade applies (FadeGain), and then:
//  - 16-bit (S = 32767) and 24-bit (S = 8388607): left clipped to [-(S + 1), S] and both rounded half
//    away from zero by adding +-0.5 in double precision and truncating; NaN gives 0. The peak is the
//    largest |left| before clipping, and the clipping warning appears when it is above S.
//  - 32-bit float (S = 1): each channel rounded to the nearest float (ties to even), never clipped;
//    NaN gives 0, a value beyond the largest float gives an infinity. The peak is the largest
//    |left sample| written, and a warning appears when it is above 1.0.
// Samples are little-endian, left then right.
enum class ESampleFormat { S16, S24, F32 };

// The format's full scale S: the sample of a full-scale amplitude of 1.
constexpr double FullScale(ESampleFormat format) {
    return format == ESampleFormat::S16 ? 32767.0 : format == ESampleFormat::S24 ? 8388607.0 : 1.0;
}

constexpr unsigned BytesPerSample(ESampleFormat format) {
    return format == ESampleFormat::S16 ? 2 : format == ESampleFormat::S24 ? 3 : 4;
}

constexpr unsigned BytesPerFrame(ESampleFormat format) {
    return 2 * BytesPerSample(format);
}

// An integer format's left value (in units of its full scale `S`) to its sample: above S it is S,
// below -(S + 1) it is -(S + 1), otherwise rounded half away from zero by adding +-0.5 in double
// precision and truncating; NaN gives 0.
inline std::int32_t IntegerLeftSample(double left, double fullScale) {
    if (left > fullScale) {
        return static_cast<std::int32_t>(fullScale);
    }
    if (left < -(fullScale + 1.0)) {
        return static_cast<std::int32_t>(-(fullScale + 1.0));
    }
    if (left >= 0.0) {
        return static_cast<std::int32_t>(left + 0.5);
    }
    if (left < 0.0) {
        return static_cast<std::int32_t>(left - 0.5);
    }
    return 0;
}

// An integer format's right value to its sample: rounded half away from zero like the left, never
// clipped (its magnitude is at most 0.9 of full scale, a fade only lowers it); NaN gives 0.
inline std::int32_t IntegerRightSample(double right) {
    if (right < 0.0) {
        return static_cast<std::int32_t>(right - 0.5);
    }
    if (right >= 0.0) {
        return static_cast<std::int32_t>(right + 0.5);
    }
    return 0;
}

// A value to its float sample: the nearest float, ties to even; NaN gives 0; beyond the largest
// float (by half its last step or more) an infinity of the value's sign.
inline float FloatSample(double value) {
    constexpr double kOverflow = 0x1.ffffffp127; // FLT_MAX plus half its last step: rounds to infinity
    if (std::isnan(value)) {
        return 0.0f;
    }
    if (std::fabs(value) >= kOverflow) {
        return value > 0.0 ? HUGE_VALF : -HUGE_VALF;
    }
    return static_cast<float>(value);
}

// Writes one frame of `format` at `out` (BytesPerFrame(format) bytes) from its left and right values
// (scaled and faded) and returns what the frame adds to the peak: |left| for an integer format
// (before clipping; 0 for NaN), |left sample| for float.
inline double PackFrame(ESampleFormat format, double left, double right, unsigned char* out) {
    const auto put = [&](std::uint32_t bits, unsigned bytes, unsigned at) {
        for (unsigned i = 0; i < bytes; ++i) {
            out[at + i] = static_cast<unsigned char>(bits >> (8 * i));
        }
    };
    if (format == ESampleFormat::F32) {
        const float l = FloatSample(left), r = FloatSample(right);
        std::uint32_t lb = 0, rb = 0;
        std::memcpy(&lb, &l, 4);
        std::memcpy(&rb, &r, 4);
        put(lb, 4, 0);
        put(rb, 4, 4);
        return std::fabs(static_cast<double>(l));
    }
    const unsigned bytes = BytesPerSample(format);
    put(static_cast<std::uint32_t>(IntegerLeftSample(left, FullScale(format))), bytes, 0);
    put(static_cast<std::uint32_t>(IntegerRightSample(right)), bytes, bytes);
    return std::isnan(left) ? 0.0 : std::fabs(left);
}

// True when a left peak (as PackFrame returns them) makes the file clip: above full scale.
inline bool PeakClips(ESampleFormat format, double peak) {
    return peak > FullScale(format);
}

// Frames of a fade of `seconds` at `sampleRate`: the product truncated toward zero, as the frame
// count is.
inline std::uint64_t FadeFrames(double seconds, std::uint32_t sampleRate) {
    const double frames = static_cast<double>(sampleRate) * seconds;
    return frames >= 1.0 && frames < 1.8e19 ? static_cast<std::uint64_t>(frames) : 0;
}

// The gain of frame `frame` of `frames` under a fade-in of `fadeIn` frames and a fade-out of
// `fadeOut`: a raised cosine 1/2 - 1/2 cos(pi k / F) over each fade's F frames, k counting from the
// file's first frame for the fade-in and back from its last frame for the fade-out (which both
// start at 0), 1 elsewhere, the product where the fades overlap. pi is TWO_PI / 2.
inline double FadeGain(std::uint64_t frame, std::uint64_t frames, std::uint64_t fadeIn,
                       std::uint64_t fadeOut) {
    constexpr double kPi = 6.283185307179586 / 2.0;
    double gain = 1.0;
    if (frame < fadeIn) {
        gain = 0.5 - 0.5 * std::cos(kPi * static_cast<double>(frame) / static_cast<double>(fadeIn));
    }
    const std::uint64_t fromEnd = frames - 1 - frame;
    if (fromEnd < fadeOut) {
        gain =
            gain * (0.5 - 0.5 * std::cos(kPi * static_cast<double>(fromEnd) / static_cast<double>(fadeOut)));
    }
    return gain;
}
