#include "analysis/analyzer.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <future>
#include <numbers>
#include <span>

#include "analysis/delay_fit.h"
#include "analysis/fundamental_tracker.h"
#include "analysis/segment_spectrum.h"
#include "platform/number_text.h"

namespace analysis {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kMinusInfinity = -std::numeric_limits<double>::infinity();

// Segments: at least this many frames (the spectrum's resolution for plots), at most 2^20.
constexpr std::size_t kMinSegment = 4096;
constexpr std::size_t kMaxSegment = std::size_t{1} << 20;
// Lines f0 apart lie at least this many bins apart in a segment of the chosen size, so that their
// main lobes (kMainLobeBins either side) leave bins of noise between them.
constexpr double kLineSpacingBins = 40.0;
// Fewer segments than this: the clock and the lines are not resolved well.
constexpr std::uint64_t kMinSegments = 4;
// The clock is tracked over a run of this many consecutive segments about the middle, then over
// this many spread over the whole recording.
constexpr std::uint64_t kTrackRun = 8;
constexpr std::uint64_t kTrackSpread = 48;
// The shortest recording analysed at all.
constexpr std::uint64_t kMinFrames = 64;
// How far from the settings' f0 a tone is looked for: 2 %.
constexpr double kSearchTolerance = 0.02;
// Warnings: a clock offset beyond this; a DC offset above this (full scale 1); a channel quieter
// than this (RMS against a full-scale sine's) is silent.
constexpr double kClockWarningPpm = 1000.0;
constexpr double kDcWarning = 1e-3;
constexpr double kSilentDbfs = -120.0;
// The reference's distortion band.
constexpr double kAudioLowHz = 20.0;
constexpr double kAudioHighHz = 20000.0;

double Dbfs(double amplitude) {
    return amplitude > 0.0 ? 20.0 * std::log10(amplitude) : kMinusInfinity;
}

double PowerDb(double ratio) {
    return ratio > 0.0 ? 10.0 * std::log10(ratio) : kMinusInfinity;
}

double WrapRad(double angle) {
    const double wrapped = angle - 2.0 * kPi * std::round(angle / (2.0 * kPi));
    return wrapped <= -kPi ? wrapped + 2.0 * kPi : wrapped; // (-pi, pi]
}

std::string Seconds(double seconds) {
    return platform::FormatGeneral15(std::round(seconds * 1000.0) / 1000.0) + " s";
}

std::size_t NextPowerOfTwo(double value) {
    std::size_t power = 1;
    while (static_cast<double>(power) < value && power < kMaxSegment) {
        power *= 2;
    }
    return power;
}

// Sums, extremes and full-scale samples of one channel over the analysed frames.
struct CChannelStats {
    double m_dSum = 0.0;
    double m_dSumSquares = 0.0;
    std::uint64_t m_nFullScale = 0;
    std::uint64_t m_nCount = 0;
    std::optional<std::uint64_t> m_nNotFinite; // the first frame (from the file's start) that is not

    void Add(const double* samples, std::size_t count, std::uint64_t firstFrame) {
        for (std::size_t i = 0; i < count; ++i) {
            const double x = samples[i];
            if (!std::isfinite(x)) {
                if (!m_nNotFinite) {
                    m_nNotFinite = firstFrame + i;
                }
                continue;
            }
            m_dSum += x;
            m_dSumSquares += x * x;
            // An integer sample at its largest magnitude reads 1.0 (or a little more for the most
            // negative one): at full scale.
            m_nFullScale += std::fabs(x) >= 1.0 - 1e-12;
        }
        m_nCount += count;
    }
    void Add(const CChannelStats& other) {
        m_dSum += other.m_dSum;
        m_dSumSquares += other.m_dSumSquares;
        m_nFullScale += other.m_nFullScale;
        m_nCount += other.m_nCount;
        if (other.m_nNotFinite && (!m_nNotFinite || *other.m_nNotFinite < *m_nNotFinite)) {
            m_nNotFinite = other.m_nNotFinite;
        }
    }
    double Mean() const { return m_nCount > 0 ? m_dSum / static_cast<double>(m_nCount) : 0.0; }
    // The RMS as dBFS: against the RMS of a full-scale sine.
    double RmsDbfs() const {
        return m_nCount > 0 ? Dbfs(std::sqrt(2.0 * m_dSumSquares / static_cast<double>(m_nCount)))
                            : kMinusInfinity;
    }
};

// Reads the analysed frames segment by segment, or several segments at once, and splits out the two
// channels into consecutive segments of their own.
class CSegmentReader {
public:
    CSegmentReader(CRecording& recording, std::uint64_t firstFrame, std::size_t segmentFrames, int left,
                   int right)
        : m_recording(recording), m_nFirstFrame(firstFrame), m_nSegment(segmentFrames),
          m_nChannels(static_cast<std::size_t>(recording.Channels())), m_nLeft(left), m_nRight(right) {
        // Read in pieces of at most 2^20 samples, whatever the channel count.
        m_nChunk = std::max<std::size_t>(1, std::min(segmentFrames, (std::size_t{1} << 20) / m_nChannels));
        m_aChunk.resize(m_nChunk * m_nChannels);
    }

    // Segments [first, first + count) into Left() and Right(), one after the other.
    void Read(std::uint64_t first, std::size_t count = 1) {
        const std::size_t frames = count * m_nSegment;
        m_aLeft.resize(frames);
        m_aRight.resize(m_nRight >= 0 ? frames : 0);
        const std::uint64_t start = m_nFirstFrame + first * m_nSegment;
        for (std::size_t done = 0; done < frames; done += m_nChunk) {
            const std::size_t chunk = std::min(m_nChunk, frames - done);
            m_recording.Read(start + done, chunk, m_aChunk.data());
            for (std::size_t i = 0; i < chunk; ++i) {
                m_aLeft[done + i] = m_aChunk[i * m_nChannels + static_cast<std::size_t>(m_nLeft)];
                if (m_nRight >= 0) {
                    m_aRight[done + i] = m_aChunk[i * m_nChannels + static_cast<std::size_t>(m_nRight)];
                }
            }
        }
    }
    const double* Left() const { return m_aLeft.data(); }
    const double* Right() const { return m_aRight.data(); }

private:
    CRecording& m_recording;
    std::uint64_t m_nFirstFrame;
    std::size_t m_nSegment;
    std::size_t m_nChannels;
    int m_nLeft, m_nRight; // 0-based; right -1 for none
    std::size_t m_nChunk = 1;
    std::vector<double> m_aChunk, m_aLeft, m_aRight;
};

// Counts work done and asks whether to stop.
class CProgressCount {
public:
    CProgressCount(platform::CProgress* feedback, std::uint64_t total)
        : m_pFeedback(feedback), m_nTotal(total) {}
    void Advance(std::uint64_t frames) {
        m_nDone += frames;
        if (m_pFeedback != nullptr) {
            m_pFeedback->ReportProgress(m_nDone, m_nTotal);
            if (m_pFeedback->CancelRequested()) {
                throw CAnalysisCancelled();
            }
        }
    }

private:
    platform::CProgress* m_pFeedback;
    std::uint64_t m_nTotal;
    std::uint64_t m_nDone = 0;
};

// A line's complex amplitude at the reference time, averaged over the segments: each segment's
// value (phase at its centre) turned back by the tone's advance from the reference time.
struct CCoherentLine {
    double m_dFrequencyHz = 0.0;
    double m_dBin = 0.0;
    bool m_bMeasurable = false;
    std::complex<double> m_sum;
};

// One channel's sums over segments: its lines' turned values, and each bin's power. Sums over
// different segments add up, so threads may share the segments out and add their sums after.
struct CChannelSums {
    std::vector<CCoherentLine> m_aLines;
    std::vector<double> m_aPower;
    CChannelStats m_stats;
    std::uint64_t m_nFirstFrame = 0; // the analysed frames' first, for the statistics

    // Transforms `count` consecutive segments at `samples` (the first being segment `first`) and
    // adds them. `secondsFromReference(s)`: from the reference time to segment s's centre.
    template <class Offset>
    void AddSegments(CSegmentSpectrum& spectrum, const double* samples, std::uint64_t first,
                     std::size_t count, Offset secondsFromReference) {
        for (std::size_t i = 0; i < count; ++i) {
            const double* segment = samples + i * spectrum.Frames();
            m_stats.Add(segment, spectrum.Frames(), m_nFirstFrame + (first + i) * spectrum.Frames());
            spectrum.Transform(segment);
            const double fromReference = secondsFromReference(first + i);
            for (CCoherentLine& line : m_aLines) {
                if (line.m_bMeasurable) {
                    const double turns = std::fmod(line.m_dFrequencyHz * fromReference, 1.0);
                    line.m_sum += spectrum.ToneAt(line.m_dBin) * std::polar(1.0, -2.0 * kPi * turns);
                }
            }
            for (std::size_t k = 0; k < m_aPower.size(); ++k) {
                m_aPower[k] += spectrum.Power(k);
            }
        }
    }
    void Add(const CChannelSums& other) {
        for (std::size_t i = 0; i < m_aLines.size(); ++i) {
            m_aLines[i].m_sum += other.m_aLines[i].m_sum;
        }
        for (std::size_t k = 0; k < m_aPower.size(); ++k) {
            m_aPower[k] += other.m_aPower[k];
        }
        m_stats.Add(other.m_stats);
    }
};

// Marks the bins within the guard of `frequencies` (Hz) in `near`.
void MarkNear(std::vector<bool>& near, double frequencyHz, double binHz) {
    const double centre = frequencyHz / binHz;
    const auto from = static_cast<std::ptrdiff_t>(std::floor(centre)) - CSegmentSpectrum::kGuardBins;
    const auto to = static_cast<std::ptrdiff_t>(std::ceil(centre)) + CSegmentSpectrum::kGuardBins;
    for (std::ptrdiff_t k = std::max<std::ptrdiff_t>(0, from);
         k <= to && k < static_cast<std::ptrdiff_t>(near.size()); ++k) {
        near[static_cast<std::size_t>(k)] = true;
    }
}

// The mean power of the bins that are near nothing: the noise per bin; nullopt without such bins.
std::optional<double> NoisePerBin(const std::vector<double>& power, const std::vector<bool>& near) {
    double sum = 0.0;
    std::size_t count = 0;
    for (std::size_t k = 0; k < power.size(); ++k) {
        if (!near[k]) {
            sum += power[k];
            ++count;
        }
    }
    return count > 0 ? std::optional<double>(sum / static_cast<double>(count)) : std::nullopt;
}

} // namespace

const char* ToneKindName(EToneKind kind) {
    return kind == EToneKind::Harmonic ? "harmonic" : "daughter";
}

const char* SideName(ESide side) {
    return side == ESide::Lower ? "lower" : side == ESide::Upper ? "upper" : "";
}

const char* PolarityName(EPolarity polarity) {
    return polarity == EPolarity::Normal     ? "normal"
           : polarity == EPolarity::Inverted ? "inverted"
                                             : "unknown";
}

CAnalysisReport AnalyzeRecording(const CAnalysisPlan& plan, CRecording& recording,
                                 const CAnalysisOptions& options, platform::CProgress* feedback) {
    if (!(options.m_dSkipS >= 0.0 && std::isfinite(options.m_dSkipS)) ||
        (options.m_dLengthS && !(*options.m_dLengthS > 0.0 && std::isfinite(*options.m_dLengthS))) ||
        options.m_nLeftChannel < 0 || options.m_nRightChannel < -1) {
        throw std::invalid_argument("the skip must be 0 s or more, the length above 0 s, channels 1 or more");
    }
    CAnalysisReport report;
    report.m_strRecording = recording.Name();
    report.m_strFormat = recording.Format();
    report.m_nChannels = recording.Channels();
    report.m_dSampleRateHz = recording.SampleRate();
    report.m_dSkipS = options.m_dSkipS;
    report.m_dNominalFundamentalHz = plan.m_dFundamentalHz;
    report.m_aWarnings = plan.m_aWarnings;
    const auto refuse = [&](ERefusal kind, const std::string& why) {
        report.m_eRefusal = kind;
        report.m_strRefusal = why;
        return report;
    };
    if (plan.m_strRefusal) {
        return refuse(ERefusal::NoStimulus, *plan.m_strRefusal);
    }
    if (recording.Frames() == 0) {
        return refuse(ERefusal::NoFrames, "it holds no audio frames");
    }

    // Channels, 1-based in the options and the report.
    const int channels = recording.Channels();
    if (channels > 2 && options.m_nLeftChannel == 0 && options.m_nRightChannel == 0) {
        return refuse(ERefusal::ChannelsToChoose,
                      "it has " + std::to_string(channels) + " channels: choose the left and the reference");
    }
    const int left = options.m_nLeftChannel == 0 ? 1 : options.m_nLeftChannel;
    const int right = options.m_nRightChannel == -1  ? 0
                      : options.m_nRightChannel != 0 ? options.m_nRightChannel
                      : channels >= 2                ? (left == 2 ? 1 : 2)
                                                     : 0;
    for (const int channel : {left, right}) {
        if (channel > channels) {
            return refuse(ERefusal::NoSuchChannel, "it has no channel " + std::to_string(channel) +
                                                       " (it has " + std::to_string(channels) + ")");
        }
    }
    if (left == right) {
        return refuse(ERefusal::NoSuchChannel,
                      "the left channel and the reference are both channel " + std::to_string(left));
    }
    report.m_nLeftChannel = left;
    report.m_nRightChannel = right;
    const bool hasReference = right > 0;
    report.m_reference.m_bPresent = hasReference;

    // The frames: from the skip on, whole segments.
    const double rate = recording.SampleRate();
    const auto skipFrames = static_cast<std::uint64_t>(std::llround(std::min(options.m_dSkipS * rate, 1e18)));
    if (skipFrames >= recording.Frames()) {
        return refuse(ERefusal::NoFrames, "no frames are left after skipping " + Seconds(options.m_dSkipS) +
                                              " (it holds " +
                                              Seconds(static_cast<double>(recording.Frames()) / rate) + ")");
    }
    std::uint64_t frames = recording.Frames() - skipFrames;
    if (options.m_dLengthS) {
        frames = std::min<std::uint64_t>(
            frames, static_cast<std::uint64_t>(std::llround(std::min(*options.m_dLengthS * rate, 1e18))));
    }
    if (frames < kMinFrames) {
        return refuse(ERefusal::NoFrames, "it is too short to analyse: " + std::to_string(frames) +
                                              " frames after the skip, at least " +
                                              std::to_string(kMinFrames) + " needed");
    }
    const double f0 = plan.m_dFundamentalHz;
    const std::size_t wanted = std::max(kMinSegment, NextPowerOfTwo(kLineSpacingBins * rate / f0));
    std::size_t segment = wanted;
    while (segment > frames) {
        segment /= 2;
    }
    const std::uint64_t segments = frames / segment;
    if (segment < wanted || segments < kMinSegments || wanted * 1.0 < kLineSpacingBins * rate / f0) {
        const double needed = static_cast<double>(std::max(wanted, segment) * kMinSegments) / rate;
        report.m_aWarnings.push_back("The recording is too short to resolve the lines: " +
                                     Seconds(static_cast<double>(frames) / rate) + " analysed, at least " +
                                     Seconds(needed) + " needed for lines " + platform::FormatGeneral15(f0) +
                                     " Hz apart.");
    }
    report.m_nSegmentFrames = segment;
    report.m_nFramesAnalyzed = segments * segment;
    const double binHz = rate / static_cast<double>(segment);
    report.m_dBinHz = binHz;

    CSegmentSpectrum spectrum(segment);
    CSegmentReader reader(recording, skipFrames, segment, left - 1, right - 1);

    // The tone that tracks the clock: the reference's f0, or without one the left's lowest tone.
    double trackedHz = f0;
    if (!hasReference) {
        trackedHz = 0.0;
        for (const CStimulusTone& tone : plan.m_aTones) {
            if (tone.m_eKind == EToneKind::Harmonic) {
                trackedHz = tone.m_dFrequencyHz;
                break;
            }
        }
    }
    // Pass 1: the clock, from the tone that tracks it. First roughly, from the middle segment (settled
    // if anything is); then from its phases in a run of consecutive segments about the middle, which
    // pins its frequency well enough to take the phases of a few dozen segments spread over the whole
    // recording, whose line gives it exactly.
    std::optional<double> trackedBin;
    const std::uint64_t middle = segments / 2;
    const std::uint64_t runFirst = middle >= kTrackRun / 2 ? middle - kTrackRun / 2 : 0;
    const std::uint64_t runEnd = std::min(segments, runFirst + kTrackRun);
    const bool spread = segments > runEnd - runFirst;
    const auto tracked = [&] { return hasReference ? reader.Right() : reader.Left(); };
    if (trackedHz > 0.0) {
        reader.Read(middle);
        spectrum.Transform(tracked());
        trackedBin = FindTonePeak(spectrum, trackedHz / binHz, kSearchTolerance);
    }
    CProgressCount progress(feedback,
                            (1 + (runEnd - runFirst) + (spread ? kTrackSpread : 0) + segments) * segment);
    progress.Advance(segment);
    if (trackedBin) {
        CPhaseTrack run(*trackedBin);
        reader.Read(runFirst, static_cast<std::size_t>(runEnd - runFirst));
        for (std::uint64_t s = runFirst; s < runEnd; ++s) {
            run.Add(s, spectrum.ToneAtFrequency(tracked() + (s - runFirst) * segment, 1, *trackedBin));
        }
        trackedBin = run.Bin();
        progress.Advance((runEnd - runFirst) * segment);
        if (spread) {
            CPhaseTrack whole(*trackedBin);
            for (std::uint64_t i = 0; i < kTrackSpread; ++i) {
                const std::uint64_t s = i * (segments - 1) / (kTrackSpread - 1);
                reader.Read(s);
                whole.Add(s, spectrum.ToneAtFrequency(tracked(), 1, *trackedBin));
                progress.Advance(segment);
            }
            trackedBin = whole.Bin();
        }
    }

    // The clock: every nominal frequency is scaled by the measured f0 over the settings'.
    double scale = 1.0;
    if (trackedBin) {
        scale = *trackedBin * binHz / trackedHz;
        report.m_dFundamentalHz = f0 * scale;
        report.m_dClockOffsetPpm = (scale - 1.0) * 1e6;
        if (std::fabs(*report.m_dClockOffsetPpm) > kClockWarningPpm) {
            report.m_aWarnings.push_back(
                "The clock offset of " + platform::FormatDecimals(*report.m_dClockOffsetPpm, 0) +
                " ppm is beyond +-1000 ppm: is the recording at the rate it claims?");
        }
    }
    report.m_dBandLimitHz = plan.m_dBandLimitHz * scale;

    // Pass 2: both channels' spectra; every line measured coherently at its scaled frequency. The
    // left's lines are its stimulus tones, then its detection lines; the reference's, f0 and its
    // harmonics up to 20 kHz.
    const auto lineAt = [&](double nominalHz) {
        CCoherentLine each;
        each.m_dFrequencyHz = nominalHz * scale;
        each.m_dBin = each.m_dFrequencyHz / binHz;
        each.m_bMeasurable = spectrum.Measurable(each.m_dBin);
        return each;
    };
    const std::size_t bins = segment / 2;
    CChannelSums leftSums, rightSums;
    for (const CStimulusTone& tone : plan.m_aTones) {
        leftSums.m_aLines.push_back(lineAt(tone.m_dFrequencyHz));
    }
    for (const CDetectionLine& detection : plan.m_aLines) {
        leftSums.m_aLines.push_back(lineAt(detection.m_dFrequencyHz));
    }
    const double audioTop = std::min(kAudioHighHz, rate / 2.0);
    for (unsigned n = 1; hasReference && n * f0 * scale <= audioTop; ++n) {
        rightSums.m_aLines.push_back(lineAt(n * f0));
    }
    leftSums.m_aPower.assign(bins, 0.0);
    rightSums.m_aPower.assign(hasReference ? bins : 0, 0.0);
    leftSums.m_nFirstFrame = rightSums.m_nFirstFrame = skipFrames;
    // Two threads: the left and the reference side by side, or without a reference the two halves
    // of each batch of segments (into sums of its own, added at the end).
    const double segmentS = static_cast<double>(segment) / rate;
    const auto fromReference = [&](std::uint64_t s) {
        return (static_cast<double>(s) - static_cast<double>(segments - 1) / 2.0) * segmentS;
    };
    CSegmentSpectrum helperSpectrum(segment);
    CChannelSums leftHalf = leftSums; // without a reference: the helper's half of the left's segments
    CChannelSums& helperSums = hasReference ? rightSums : leftHalf;
    const std::size_t batch = std::max<std::size_t>(1, (std::size_t{1} << 16) / segment);
    for (std::uint64_t s = 0; s < segments; s += batch) {
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(batch, segments - s));
        reader.Read(s, count);
        const std::size_t mine = hasReference ? count : (count + 1) / 2;
        auto helper = std::async(std::launch::async, [&] {
            if (hasReference) {
                helperSums.AddSegments(helperSpectrum, reader.Right(), s, count, fromReference);
            } else {
                helperSums.AddSegments(helperSpectrum, reader.Left() + mine * segment, s + mine, count - mine,
                                       fromReference);
            }
        });
        leftSums.AddSegments(spectrum, reader.Left(), s, mine, fromReference);
        helper.get();
        progress.Advance(count * segment);
    }
    if (!hasReference) {
        leftSums.Add(leftHalf);
    }
    const CChannelStats& leftStats = leftSums.m_stats;
    const CChannelStats& rightStats = rightSums.m_stats;
    for (const auto& [stats, name] : {std::pair{&leftStats, "left"}, std::pair{&rightStats, "reference"}}) {
        if (stats->m_nNotFinite) {
            return refuse(ERefusal::NotFinite,
                          "its " + std::string(name) +
                              " channel holds a sample that is not a finite number (NaN or " +
                              "infinite) at frame " + std::to_string(*stats->m_nNotFinite));
        }
    }
    const bool leftSilent = leftStats.RmsDbfs() < kSilentDbfs;
    const bool rightSilent = hasReference && rightStats.RmsDbfs() < kSilentDbfs;
    if (trackedHz == 0.0) {
        report.m_aWarnings.push_back(
            "No reference channel and no harmonic to take the clock from: the lines are "
            "taken at the settings' frequencies.");
    } else if (!trackedBin && !(hasReference ? rightSilent : leftSilent)) {
        report.m_aWarnings.push_back(
            "No tone near the expected f0 of " + platform::FormatGeneral15(trackedHz) + " Hz on the " +
            (hasReference ? "reference" : "left") + " channel: are these the stimulus's settings?");
    }
    const auto count = static_cast<double>(segments);
    for (double& p : leftSums.m_aPower) {
        p /= count;
    }
    for (double& p : rightSums.m_aPower) {
        p /= count;
    }
    const auto amplitude = [&](const CCoherentLine& each) { return each.m_sum / count; };
    const std::vector<double>& leftPower = leftSums.m_aPower;
    const std::vector<double>& rightPower = rightSums.m_aPower;
    const std::span<const CCoherentLine> tones(leftSums.m_aLines.data(), plan.m_aTones.size());
    const std::span<const CCoherentLine> lines(leftSums.m_aLines.data() + plan.m_aTones.size(),
                                               plan.m_aLines.size());
    const std::vector<CCoherentLine>& referenceLines = rightSums.m_aLines;

    // The stimulus's time at the reference time, from the reference's phase: its f0 is
    // sin(2 pi f0 t), phase -pi/2 in cosine terms. Without a reference, the recording's own start.
    const double referenceS =
        (static_cast<double>(skipFrames) + static_cast<double>(segments * segment) / 2.0) / rate;
    long double stimulusS = static_cast<long double>(referenceS) * scale;
    if (hasReference && referenceLines.front().m_bMeasurable &&
        std::abs(amplitude(referenceLines.front())) > 0.0) {
        const double measured = std::arg(amplitude(referenceLines.front())) + kPi / 2.0;
        const double expected = 2.0 * kPi * static_cast<double>(std::fmod(stimulusS * f0, 1.0L));
        stimulusS += static_cast<long double>(WrapRad(measured - expected) / (2.0 * kPi * f0));
    } else if (!hasReference) {
        report.m_aWarnings.push_back("No reference channel: phases and the delay are taken against the "
                                     "recording's start, as if it began with the stimulus.");
    }

    // Tones: level, gain against the stimulus, phase against the stimulus's own at that time.
    std::vector<CPhasePoint> phases;
    double stimulusPower = 0.0;
    std::size_t unmeasurable = 0;
    for (std::size_t i = 0; i < tones.size(); ++i) {
        const CStimulusTone& tone = plan.m_aTones[i];
        if (!tones[i].m_bMeasurable) {
            ++unmeasurable;
            continue;
        }
        const std::complex<double> measured = amplitude(tones[i]);
        const double turns =
            static_cast<double>(std::fmod(static_cast<long double>(tone.m_dFrequencyHz) * stimulusS, 1.0L));
        const double expected = 2.0 * kPi * turns + std::arg(tone.m_combined);
        CToneResult result;
        result.m_eKind = tone.m_eKind;
        result.m_nNumber = tone.m_nNumber;
        result.m_eSide = tone.m_eSide;
        result.m_dFrequencyHz = tones[i].m_dFrequencyHz;
        result.m_dStimulusDbfs = Dbfs(std::abs(tone.m_stimulus));
        result.m_dLevelDbfs = Dbfs(std::abs(measured));
        result.m_dGainDb = result.m_dLevelDbfs - Dbfs(std::abs(tone.m_combined));
        const double relative = WrapRad(std::arg(measured) - expected);
        result.m_dPhaseDeg = relative * 180.0 / kPi;
        report.m_aTones.push_back(result);
        // A line shared by several tones counts once in the stimulus's power: with the first of them
        // (harmonics come before the daughters).
        bool counted = false;
        for (std::size_t j = 0; j < i && tone.m_combined != tone.m_stimulus; ++j) {
            counted |= std::fabs(plan.m_aTones[j].m_dFrequencyHz - tone.m_dFrequencyHz) < f0 / 4.0;
        }
        if (!counted) {
            stimulusPower += std::norm(measured) / 2.0;
        }
        if (tone.m_eKind == EToneKind::Harmonic && tone.m_combined == tone.m_stimulus) {
            phases.push_back({tone.m_nNumber, tones[i].m_dFrequencyHz, relative, std::abs(measured)});
        }
    }
    const CDelayFit delay = FitDelay(phases, f0 * scale);
    if (delay.m_dDelayS) {
        report.m_dDelayMs = *delay.m_dDelayS * 1000.0;
        report.m_ePolarity = delay.m_ePolarity;
    }

    // Detection lines, and the distortion they hold.
    double evenPower = 0.0, oddPower = 0.0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!lines[i].m_bMeasurable) {
            ++unmeasurable;
            continue;
        }
        const std::complex<double> measured = amplitude(lines[i]);
        report.m_aLines.push_back(
            {plan.m_aLines[i].m_nNumber, lines[i].m_dFrequencyHz, Dbfs(std::abs(measured))});
        (plan.m_aLines[i].Even() ? evenPower : oddPower) += std::norm(measured) / 2.0;
    }
    if (unmeasurable > 0) {
        report.m_aWarnings.push_back(std::to_string(unmeasurable) +
                                     (unmeasurable == 1 ? " line lies" : " lines lie") +
                                     " too close to 0 Hz or half the sample rate to be measured.");
    }
    if (stimulusPower > 0.0) {
        report.m_dEvenOrderDb = PowerDb(evenPower / stimulusPower);
        report.m_dOddOrderDb = PowerDb(oddPower / stimulusPower);
    }

    // Noise between the lines, and everything that is not a stimulus tone.
    std::vector<bool> nearLine(bins, false), nearTone(bins, false);
    for (std::size_t k = 0; k <= static_cast<std::size_t>(CSegmentSpectrum::kGuardBins) && k < bins; ++k) {
        nearLine[k] = nearTone[k] = true; // DC
    }
    for (const CCoherentLine& each : tones) {
        MarkNear(nearLine, each.m_dFrequencyHz, binHz);
        MarkNear(nearTone, each.m_dFrequencyHz, binHz);
    }
    for (const CCoherentLine& each : lines) {
        MarkNear(nearLine, each.m_dFrequencyHz, binHz);
    }
    const std::optional<double> noise = NoisePerBin(leftPower, nearLine);
    if (noise) {
        // As the plotted spectrum scales a bin: a tone's peak bin reads the tone's level.
        report.m_dNoisePerBinDbfs = PowerDb(2.0 * *noise * spectrum.NoiseBandwidthBins());
        report.m_dNoiseFloorDbfs = PowerDb(2.0 * *noise * static_cast<double>(bins));
        double rest = 0.0;
        for (std::size_t k = 0; k < bins; ++k) {
            rest += nearTone[k] ? *noise : leftPower[k];
        }
        if (stimulusPower > 0.0) {
            report.m_dDistortionNoiseDb = PowerDb(rest / stimulusPower);
        }
    }

    // The reference: its level, and its harmonics and noise from 20 Hz to 20 kHz against it.
    if (hasReference && referenceLines.front().m_bMeasurable) {
        const double fundamental = std::norm(amplitude(referenceLines.front())) / 2.0;
        report.m_reference.m_dLevelDbfs = Dbfs(std::abs(amplitude(referenceLines.front())));
        double harmonics = 0.0;
        std::vector<bool> nearHarmonic(bins, false);
        for (std::size_t k = 0; k <= static_cast<std::size_t>(CSegmentSpectrum::kGuardBins) && k < bins;
             ++k) {
            nearHarmonic[k] = true;
        }
        for (std::size_t n = 0; n < referenceLines.size(); ++n) {
            MarkNear(nearHarmonic, referenceLines[n].m_dFrequencyHz, binHz);
            if (n > 0 && referenceLines[n].m_bMeasurable) {
                harmonics += std::norm(amplitude(referenceLines[n])) / 2.0;
            }
        }
        std::vector<bool> nearFundamental(bins, false);
        MarkNear(nearFundamental, referenceLines.front().m_dFrequencyHz, binHz);
        const std::optional<double> rightNoise = NoisePerBin(rightPower, nearHarmonic);
        double band = 0.0;
        for (std::size_t k = 0; k < bins; ++k) {
            const double hz = static_cast<double>(k) * binHz;
            if (hz >= kAudioLowHz && hz <= audioTop) {
                band += nearFundamental[k] ? rightNoise.value_or(0.0) : rightPower[k];
            }
        }
        report.m_reference.m_dThdDb = fundamental > 0.0 ? PowerDb(harmonics / fundamental) : kMinusInfinity;
        report.m_reference.m_dThdNoiseDb = fundamental > 0.0 ? PowerDb(band / fundamental) : kMinusInfinity;
    }

    // The left's spectrum for plots, amplitude-scaled: a tone's peak bin reads its level.
    report.m_aLeftSpectrumDbfs.resize(bins);
    for (std::size_t k = 0; k < bins; ++k) {
        report.m_aLeftSpectrumDbfs[k] =
            static_cast<float>(PowerDb(2.0 * leftPower[k] * spectrum.NoiseBandwidthBins()));
    }

    // Facts about the recording.
    const auto fullScale = [&](const CChannelStats& stats, const char* name) {
        if (stats.m_nFullScale > 0) {
            report.m_aWarnings.push_back("The " + std::string(name) + " channel reaches full scale in " +
                                         std::to_string(stats.m_nFullScale) +
                                         " samples: the recording may be clipped.");
        }
        if (std::fabs(stats.Mean()) > kDcWarning) {
            report.m_aWarnings.push_back("The " + std::string(name) + " channel has a DC offset of " +
                                         platform::FormatDecimals(stats.Mean(), 4) + " (" +
                                         platform::FormatDecimals(Dbfs(std::fabs(stats.Mean())), 1) +
                                         " dBFS).");
        }
    };
    fullScale(leftStats, "left");
    if (hasReference) {
        fullScale(rightStats, "reference");
    }
    if (leftSilent) {
        report.m_aWarnings.push_back("The left channel is silent: nothing to measure.");
    }
    if (rightSilent) {
        report.m_aWarnings.push_back("The reference channel is silent.");
    }
    return report;
}

} // namespace analysis
