#include "analysis/analysis_stages.h"

#include <algorithm>
#include <cmath>
#include <future>
#include <numbers>

#include "analysis/delay_fit.h"
#include "analysis/fundamental_tracker.h"
#include "platform/number_text.h"

namespace analysis::stages {

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

// The run of consecutive segments about the middle that the clock is tracked over.
std::pair<std::uint64_t, std::uint64_t> TrackRun(std::uint64_t segments) {
    const std::uint64_t middle = segments / 2;
    const std::uint64_t first = middle >= kTrackRun / 2 ? middle - kTrackRun / 2 : 0;
    return {first, std::min(segments, first + kTrackRun)};
}

// Transforms `count` consecutive segments at `samples` (the first being segment `first`) and adds
// them to `sums`. `secondsFromReference(s)`: from the reference time to segment s's centre.
template <class Offset>
void AddSegments(CChannelSums& sums, CSegmentSpectrum& spectrum, const double* samples, std::uint64_t first,
                 std::size_t count, Offset secondsFromReference) {
    for (std::size_t i = 0; i < count; ++i) {
        const double* segment = samples + i * spectrum.Frames();
        sums.m_stats.Add(segment, spectrum.Frames(), sums.m_nFirstFrame + (first + i) * spectrum.Frames());
        spectrum.Transform(segment);
        const double fromReference = secondsFromReference(first + i);
        for (CCoherentLine& line : sums.m_aLines) {
            if (line.m_bMeasurable) {
                const double turns = std::fmod(line.m_dFrequencyHz * fromReference, 1.0);
                line.m_sum += spectrum.ToneAt(line.m_dBin) * std::polar(1.0, -2.0 * kPi * turns);
            }
        }
        for (std::size_t k = 0; k < sums.m_aPower.size(); ++k) {
            sums.m_aPower[k] += spectrum.Power(k);
        }
    }
}

// Marks the bins within the guard of `frequencyHz` in `near`.
void MarkNear(std::vector<bool>& near, double frequencyHz, double binHz) {
    const double centre = frequencyHz / binHz;
    const auto from = static_cast<std::ptrdiff_t>(std::floor(centre)) - CSegmentSpectrum::kGuardBins;
    const auto to = static_cast<std::ptrdiff_t>(std::ceil(centre)) + CSegmentSpectrum::kGuardBins;
    for (std::ptrdiff_t k = std::max<std::ptrdiff_t>(0, from);
         k <= to && k < static_cast<std::ptrdiff_t>(near.size()); ++k) {
        near[static_cast<std::size_t>(k)] = true;
    }
}

// Marks the bins of DC's main lobe.
void MarkDc(std::vector<bool>& near) {
    for (std::size_t k = 0; k <= static_cast<std::size_t>(CSegmentSpectrum::kGuardBins) && k < near.size();
         ++k) {
        near[k] = true;
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

bool Silent(const CChannelStats& stats) {
    return stats.RmsDbfs() < kSilentDbfs;
}

} // namespace

void CChannelStats::Add(const double* samples, std::size_t count, std::uint64_t firstFrame) {
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

void CChannelStats::Add(const CChannelStats& other) {
    m_dSum += other.m_dSum;
    m_dSumSquares += other.m_dSumSquares;
    m_nFullScale += other.m_nFullScale;
    m_nCount += other.m_nCount;
    if (other.m_nNotFinite && (!m_nNotFinite || *other.m_nNotFinite < *m_nNotFinite)) {
        m_nNotFinite = other.m_nNotFinite;
    }
}

double CChannelStats::RmsDbfs() const {
    return m_nCount > 0 ? Dbfs(std::sqrt(2.0 * m_dSumSquares / static_cast<double>(m_nCount)))
                        : kMinusInfinity;
}

CSegmentReader::CSegmentReader(CRecording& recording, std::uint64_t firstFrame, std::size_t segmentFrames,
                               int left, int right)
    : m_recording(recording), m_nFirstFrame(firstFrame), m_nSegment(segmentFrames),
      m_nChannels(static_cast<std::size_t>(recording.Channels())), m_nLeft(left), m_nRight(right) {
    // Read in pieces of at most 2^20 samples, whatever the channel count.
    m_nChunk = std::max<std::size_t>(1, std::min(segmentFrames, (std::size_t{1} << 20) / m_nChannels));
    m_aChunk.resize(m_nChunk * m_nChannels);
}

void CSegmentReader::Read(std::uint64_t first, std::size_t count) {
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

void CProgressCount::Advance(std::uint64_t frames) {
    m_nDone += frames;
    if (m_pProgress != nullptr) {
        m_pProgress->ReportProgress(m_nDone, m_nTotal);
        if (m_pProgress->CancelRequested()) {
            throw CAnalysisCancelled();
        }
    }
}

void CChannelSums::Add(const CChannelSums& other) {
    for (std::size_t i = 0; i < m_aLines.size(); ++i) {
        m_aLines[i].m_sum += other.m_aLines[i].m_sum;
    }
    for (std::size_t k = 0; k < m_aPower.size(); ++k) {
        m_aPower[k] += other.m_aPower[k];
    }
    m_stats.Add(other.m_stats);
}

std::optional<CRefusal> ChooseChannels(int channels, const CAnalysisOptions& options, int& left, int& right) {
    if (channels > 2 && options.m_nLeftChannel == 0 && options.m_nRightChannel == 0) {
        return CRefusal{ERefusal::ChannelsToChoose, "it has " + std::to_string(channels) +
                                                        " channels: choose the left and the reference"};
    }
    left = options.m_nLeftChannel == 0 ? 1 : options.m_nLeftChannel;
    right = options.m_nRightChannel == -1  ? 0
            : options.m_nRightChannel != 0 ? options.m_nRightChannel
            : channels >= 2                ? (left == 2 ? 1 : 2)
                                           : 0;
    for (const int channel : {left, right}) {
        if (channel > channels) {
            return CRefusal{ERefusal::NoSuchChannel, "it has no channel " + std::to_string(channel) +
                                                         " (it has " + std::to_string(channels) + ")"};
        }
    }
    if (left == right) {
        return CRefusal{ERefusal::NoSuchChannel,
                        "the left channel and the reference are both channel " + std::to_string(left)};
    }
    return std::nullopt;
}

std::optional<CRefusal> ChooseSegments(std::uint64_t recordingFrames, double rateHz, double f0Hz,
                                       const CAnalysisOptions& options, CSegmentation& segmentation,
                                       CAnalysisReport& report) {
    const auto skipFrames =
        static_cast<std::uint64_t>(std::llround(std::min(options.m_dSkipS * rateHz, 1e18)));
    if (skipFrames >= recordingFrames) {
        return CRefusal{ERefusal::NoFrames, "no frames are left after skipping " + Seconds(options.m_dSkipS) +
                                                " (it holds " +
                                                Seconds(static_cast<double>(recordingFrames) / rateHz) + ")"};
    }
    std::uint64_t frames = recordingFrames - skipFrames;
    if (options.m_dLengthS) {
        frames = std::min<std::uint64_t>(
            frames, static_cast<std::uint64_t>(std::llround(std::min(*options.m_dLengthS * rateHz, 1e18))));
    }
    if (frames < kMinFrames) {
        return CRefusal{ERefusal::NoFrames, "it is too short to analyse: " + std::to_string(frames) +
                                                " frames after the skip, at least " +
                                                std::to_string(kMinFrames) + " needed"};
    }
    const std::size_t wanted = std::max(kMinSegment, NextPowerOfTwo(kLineSpacingBins * rateHz / f0Hz));
    std::size_t segment = wanted;
    while (segment > frames) {
        segment /= 2;
    }
    const std::uint64_t segments = frames / segment;
    if (segment < wanted || segments < kMinSegments || wanted * 1.0 < kLineSpacingBins * rateHz / f0Hz) {
        const double needed = static_cast<double>(std::max(wanted, segment) * kMinSegments) / rateHz;
        report.m_aWarnings.push_back("The recording is too short to resolve the lines: " +
                                     Seconds(static_cast<double>(frames) / rateHz) + " analysed, at least " +
                                     Seconds(needed) + " needed for lines " +
                                     platform::FormatGeneral15(f0Hz) + " Hz apart.");
    }
    segmentation = {skipFrames, segment, segments, rateHz / static_cast<double>(segment)};
    report.m_nSegmentFrames = segment;
    report.m_nFramesAnalyzed = segments * segment;
    report.m_dBinHz = segmentation.m_dBinHz;
    return std::nullopt;
}

std::uint64_t ClockFrames(const CSegmentation& segmentation) {
    const auto [runFirst, runEnd] = TrackRun(segmentation.m_nSegments);
    const bool spread = segmentation.m_nSegments > runEnd - runFirst;
    return (1 + (runEnd - runFirst) + (spread ? kTrackSpread : 0)) * segmentation.m_nSegment;
}

CClock TrackClock(const CAnalysisPlan& plan, bool hasReference, const CSegmentation& segmentation,
                  CSegmentReader& reader, CSegmentSpectrum& spectrum, CProgressCount& progress) {
    const std::size_t segment = segmentation.m_nSegment;
    const std::uint64_t segments = segmentation.m_nSegments;
    const double binHz = segmentation.m_dBinHz;
    CClock clock;
    clock.m_dTrackedHz = plan.m_dFundamentalHz;
    if (!hasReference) {
        clock.m_dTrackedHz = 0.0;
        for (const CStimulusTone& tone : plan.m_aTones) {
            if (tone.m_eKind == EToneKind::Harmonic) {
                clock.m_dTrackedHz = tone.m_dFrequencyHz;
                break;
            }
        }
    }
    // First roughly, from the middle segment (settled if anything is); then from its phases in a run
    // of consecutive segments about the middle, which pins its frequency well enough to take the
    // phases of a few dozen segments spread over the whole recording, whose line gives it exactly.
    std::optional<double>& trackedBin = clock.m_dTrackedBin;
    const std::uint64_t middle = segments / 2;
    const auto [runFirst, runEnd] = TrackRun(segments);
    const bool spread = segments > runEnd - runFirst;
    const auto tracked = [&] { return hasReference ? reader.Right() : reader.Left(); };
    if (clock.m_dTrackedHz > 0.0) {
        reader.Read(middle);
        spectrum.Transform(tracked());
        trackedBin = FindTonePeak(spectrum, clock.m_dTrackedHz / binHz, kSearchTolerance);
    }
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
    return clock;
}

CSums SumSegments(const CAnalysisPlan& plan, bool hasReference, const CSegmentation& segmentation,
                  const CClock& clock, double rateHz, CSegmentReader& reader, CSegmentSpectrum& spectrum,
                  CProgressCount& progress) {
    const std::size_t segment = segmentation.m_nSegment;
    const std::uint64_t segments = segmentation.m_nSegments;
    const double scale = clock.m_dScale;
    const auto lineAt = [&](double nominalHz) {
        CCoherentLine each;
        each.m_dFrequencyHz = nominalHz * scale;
        each.m_dBin = each.m_dFrequencyHz / segmentation.m_dBinHz;
        each.m_bMeasurable = spectrum.Measurable(each.m_dBin);
        return each;
    };
    const std::size_t bins = segment / 2;
    CSums sums;
    CChannelSums& leftSums = sums.m_left;
    CChannelSums& rightSums = sums.m_right;
    for (const CStimulusTone& tone : plan.m_aTones) {
        leftSums.m_aLines.push_back(lineAt(tone.m_dFrequencyHz));
    }
    for (const CDetectionLine& detection : plan.m_aLines) {
        leftSums.m_aLines.push_back(lineAt(detection.m_dFrequencyHz));
    }
    const double f0 = plan.m_dFundamentalHz;
    const double audioTop = std::min(kAudioHighHz, rateHz / 2.0);
    for (unsigned n = 1; hasReference && n * f0 * scale <= audioTop; ++n) {
        rightSums.m_aLines.push_back(lineAt(n * f0));
    }
    leftSums.m_aPower.assign(bins, 0.0);
    rightSums.m_aPower.assign(hasReference ? bins : 0, 0.0);
    leftSums.m_nFirstFrame = rightSums.m_nFirstFrame = segmentation.m_nSkipFrames;
    // Two threads: the left and the reference side by side, or without a reference the two halves
    // of each batch of segments (into sums of its own, added at the end).
    const double segmentS = static_cast<double>(segment) / rateHz;
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
                AddSegments(helperSums, helperSpectrum, reader.Right(), s, count, fromReference);
            } else {
                AddSegments(helperSums, helperSpectrum, reader.Left() + mine * segment, s + mine,
                            count - mine, fromReference);
            }
        });
        AddSegments(leftSums, spectrum, reader.Left(), s, mine, fromReference);
        helper.get();
        progress.Advance(count * segment);
    }
    if (!hasReference) {
        leftSums.Add(leftHalf);
    }
    sums.m_dSegments = static_cast<double>(segments);
    for (double& p : leftSums.m_aPower) {
        p /= sums.m_dSegments;
    }
    for (double& p : rightSums.m_aPower) {
        p /= sums.m_dSegments;
    }
    return sums;
}

std::optional<CRefusal> CheckSums(bool hasReference, const CClock& clock, const CSums& sums,
                                  CAnalysisReport& report) {
    for (const auto& [stats, name] :
         {std::pair{&sums.m_left.m_stats, "left"}, std::pair{&sums.m_right.m_stats, "reference"}}) {
        if (stats->m_nNotFinite) {
            return CRefusal{ERefusal::NotFinite,
                            "its " + std::string(name) +
                                " channel holds a sample that is not a finite number (NaN or " +
                                "infinite) at frame " + std::to_string(*stats->m_nNotFinite)};
        }
    }
    const bool trackedSilent = hasReference ? Silent(sums.m_right.m_stats) : Silent(sums.m_left.m_stats);
    if (clock.m_dTrackedHz == 0.0) {
        report.m_aWarnings.push_back(
            "No reference channel and no harmonic to take the clock from: the lines are "
            "taken at the settings' frequencies.");
    } else if (!clock.m_dTrackedBin && !trackedSilent) {
        report.m_aWarnings.push_back("No tone near the expected f0 of " +
                                     platform::FormatGeneral15(clock.m_dTrackedHz) + " Hz on the " +
                                     (hasReference ? "reference" : "left") +
                                     " channel: are these the stimulus's settings?");
    }
    return std::nullopt;
}

CToneTotals MeasureTones(const CAnalysisPlan& plan, bool hasReference, const CSegmentation& segmentation,
                         const CClock& clock, double rateHz, const CSums& sums, CAnalysisReport& report) {
    const double f0 = plan.m_dFundamentalHz;
    const double scale = clock.m_dScale;
    const std::span<const CCoherentLine> tones(sums.m_left.m_aLines.data(), plan.m_aTones.size());
    const std::vector<CCoherentLine>& referenceLines = sums.m_right.m_aLines;

    // The stimulus's time at the reference time, from the reference's phase: its f0 is
    // sin(2 pi f0 t), phase -pi/2 in cosine terms. Without a reference, the recording's own start.
    const double referenceS =
        (static_cast<double>(segmentation.m_nSkipFrames) +
         static_cast<double>(segmentation.m_nSegments * segmentation.m_nSegment) / 2.0) /
        rateHz;
    long double stimulusS = static_cast<long double>(referenceS) * scale;
    if (hasReference && !referenceLines.empty() && referenceLines.front().m_bMeasurable &&
        std::abs(sums.Amplitude(referenceLines.front())) > 0.0) {
        const double measured = std::arg(sums.Amplitude(referenceLines.front())) + kPi / 2.0;
        const double expected = 2.0 * kPi * static_cast<double>(std::fmod(stimulusS * f0, 1.0L));
        stimulusS += static_cast<long double>(WrapRad(measured - expected) / (2.0 * kPi * f0));
    } else if (!hasReference) {
        report.m_aWarnings.push_back("No reference channel: phases and the delay are taken against the "
                                     "recording's start, as if it began with the stimulus.");
    }

    // Level, gain against the stimulus, phase against the stimulus's own at that time.
    std::vector<CPhasePoint> phases;
    CToneTotals totals;
    for (std::size_t i = 0; i < tones.size(); ++i) {
        const CStimulusTone& tone = plan.m_aTones[i];
        if (!tones[i].m_bMeasurable) {
            ++totals.m_nUnmeasurable;
            continue;
        }
        const std::complex<double> measured = sums.Amplitude(tones[i]);
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
            totals.m_dStimulusPower += std::norm(measured) / 2.0;
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
    return totals;
}

void MeasureLines(const CAnalysisPlan& plan, const CSums& sums, const CToneTotals& tones,
                  CAnalysisReport& report) {
    const std::span<const CCoherentLine> lines(sums.m_left.m_aLines.data() + plan.m_aTones.size(),
                                               plan.m_aLines.size());
    std::size_t unmeasurable = tones.m_nUnmeasurable;
    double evenPower = 0.0, oddPower = 0.0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!lines[i].m_bMeasurable) {
            ++unmeasurable;
            continue;
        }
        const std::complex<double> measured = sums.Amplitude(lines[i]);
        report.m_aLines.push_back(
            {plan.m_aLines[i].m_nNumber, lines[i].m_dFrequencyHz, Dbfs(std::abs(measured))});
        (plan.m_aLines[i].Even() ? evenPower : oddPower) += std::norm(measured) / 2.0;
    }
    if (unmeasurable > 0) {
        report.m_aWarnings.push_back(std::to_string(unmeasurable) +
                                     (unmeasurable == 1 ? " line lies" : " lines lie") +
                                     " too close to 0 Hz or half the sample rate to be measured.");
    }
    if (tones.m_dStimulusPower > 0.0) {
        report.m_dEvenOrderDb = PowerDb(evenPower / tones.m_dStimulusPower);
        report.m_dOddOrderDb = PowerDb(oddPower / tones.m_dStimulusPower);
    }
}

void MeasureNoise(const CAnalysisPlan& plan, const CSegmentation& segmentation,
                  const CSegmentSpectrum& spectrum, const CSums& sums, double stimulusPower,
                  CAnalysisReport& report) {
    const std::vector<double>& leftPower = sums.m_left.m_aPower;
    const std::size_t bins = leftPower.size();
    const double binHz = segmentation.m_dBinHz;
    std::vector<bool> nearLine(bins, false), nearTone(bins, false);
    MarkDc(nearLine);
    MarkDc(nearTone);
    for (std::size_t i = 0; i < sums.m_left.m_aLines.size(); ++i) {
        const double hz = sums.m_left.m_aLines[i].m_dFrequencyHz;
        MarkNear(nearLine, hz, binHz);
        if (i < plan.m_aTones.size()) {
            MarkNear(nearTone, hz, binHz);
        }
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
}

void MeasureReference(const CSegmentation& segmentation, double rateHz, const CSums& sums,
                      CAnalysisReport& report) {
    const std::vector<CCoherentLine>& referenceLines = sums.m_right.m_aLines;
    if (referenceLines.empty() || !referenceLines.front().m_bMeasurable) {
        return;
    }
    const std::vector<double>& rightPower = sums.m_right.m_aPower;
    const std::size_t bins = rightPower.size();
    const double binHz = segmentation.m_dBinHz;
    const double audioTop = std::min(kAudioHighHz, rateHz / 2.0);
    const double fundamental = std::norm(sums.Amplitude(referenceLines.front())) / 2.0;
    report.m_reference.m_dLevelDbfs = Dbfs(std::abs(sums.Amplitude(referenceLines.front())));
    double harmonics = 0.0;
    std::vector<bool> nearHarmonic(bins, false);
    MarkDc(nearHarmonic);
    for (std::size_t n = 0; n < referenceLines.size(); ++n) {
        MarkNear(nearHarmonic, referenceLines[n].m_dFrequencyHz, binHz);
        if (n > 0 && referenceLines[n].m_bMeasurable) {
            harmonics += std::norm(sums.Amplitude(referenceLines[n])) / 2.0;
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

void RecordFacts(bool hasReference, const CSegmentSpectrum& spectrum, const CSums& sums,
                 CAnalysisReport& report) {
    // The left's spectrum for plots, amplitude-scaled: a tone's peak bin reads its level.
    const std::vector<double>& leftPower = sums.m_left.m_aPower;
    report.m_aLeftSpectrumDbfs.resize(leftPower.size());
    for (std::size_t k = 0; k < leftPower.size(); ++k) {
        report.m_aLeftSpectrumDbfs[k] =
            static_cast<float>(PowerDb(2.0 * leftPower[k] * spectrum.NoiseBandwidthBins()));
    }
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
    fullScale(sums.m_left.m_stats, "left");
    if (hasReference) {
        fullScale(sums.m_right.m_stats, "reference");
    }
    if (Silent(sums.m_left.m_stats)) {
        report.m_aWarnings.push_back("The left channel is silent: nothing to measure.");
    }
    if (hasReference && Silent(sums.m_right.m_stats)) {
        report.m_aWarnings.push_back("The reference channel is silent.");
    }
}

} // namespace analysis::stages
