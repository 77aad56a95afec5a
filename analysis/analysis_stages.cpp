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
// A sine reaches a quarter of its peak this many periods after it starts: asin(1/4) / (2 pi).
constexpr double kCrossingPeriods = 0.040215;
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
        for (std::size_t j = 0; j < sums.m_aLines.size(); ++j) {
            CCoherentLine& line = sums.m_aLines[j];
            if (line.m_bMeasurable) {
                const double turns = std::fmod(line.m_dFrequencyHz * fromReference, 1.0);
                const std::complex<double> tone = line.m_weights
                                                      ? spectrum.WeightedToneAt(line.m_dBin, *line.m_weights)
                                                      : spectrum.ToneAt(line.m_dBin);
                line.m_sum += tone * std::polar(1.0, -2.0 * kPi * turns);
                line.m_dSumNorm += std::norm(tone);
                if (j == sums.m_nTracked && !sums.m_aTrackedLevels.empty()) {
                    sums.m_aTrackedLevels[static_cast<std::size_t>(first + i)] = std::abs(tone);
                }
            }
        }
        sums.m_dDcSum += spectrum.Dc();
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
        if (!(std::fabs(x) <= kFarBeyond)) { // NaN, infinite, or far beyond full scale
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
        m_aLines[i].m_dSumNorm += other.m_aLines[i].m_dSumNorm;
    }
    for (std::size_t s = 0; s < m_aTrackedLevels.size(); ++s) {
        m_aTrackedLevels[s] += other.m_aTrackedLevels[s]; // each segment is in one of the two only
    }
    m_dDcSum += other.m_dDcSum;
    for (std::size_t k = 0; k < m_aPower.size(); ++k) {
        m_aPower[k] += other.m_aPower[k];
    }
    m_stats.Add(other.m_stats);
}

CStimulusSpan FindStimulus(CRecording& recording, int channel) {
    constexpr std::size_t kChunk = 1 << 16;
    const std::uint64_t frames = recording.Frames();
    const auto channels = static_cast<std::size_t>(recording.Channels());
    const auto block = static_cast<std::uint64_t>(std::max(1.0, std::min(recording.SampleRate(), 1e6)));
    std::vector<double> buffer;
    std::vector<double> magnitudes;
    // Reads frames [first, first + count) of the channel's magnitudes into `magnitudes`.
    const auto read = [&](std::uint64_t first, std::size_t count) {
        buffer.resize(count * channels);
        recording.Read(first, count, buffer.data());
        magnitudes.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            const double x = buffer[i * channels + static_cast<std::size_t>(channel)];
            magnitudes[i] = std::isfinite(x) ? std::fabs(x) : 0.0;
        }
    };
    CStimulusSpan span;
    constexpr std::uint64_t kBlocks = 8;
    for (std::uint64_t b = 0; b < kBlocks; ++b) {
        const std::uint64_t length = std::min(block, frames);
        read((frames - length) * b / (kBlocks - 1), static_cast<std::size_t>(length));
        const auto quantile =
            magnitudes.begin() + static_cast<std::ptrdiff_t>(magnitudes.size() * 999 / 1000);
        std::nth_element(magnitudes.begin(), quantile, magnitudes.end());
        span.m_dLevel = std::max(span.m_dLevel, *quantile);
    }
    if (!(span.m_dLevel > 0.0)) {
        return span;
    }
    const double threshold = span.m_dLevel / 4.0;
    // Forwards from the start to the first sample at the threshold, backwards from the end to the last.
    for (std::uint64_t first = 0; first < frames && !span.m_bFound; first += kChunk) {
        read(first, static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, frames - first)));
        for (std::size_t i = 0; i < magnitudes.size(); ++i) {
            if (magnitudes[i] >= threshold) {
                span.m_nStartFrame = first + i;
                span.m_bFound = true;
                break;
            }
        }
    }
    span.m_nEndFrame = span.m_nStartFrame + 1;
    for (std::uint64_t end = frames; span.m_bFound && end > span.m_nStartFrame;) {
        const std::uint64_t first = end > kChunk ? end - kChunk : 0;
        read(first, static_cast<std::size_t>(end - first));
        for (std::size_t i = magnitudes.size(); i-- > 0;) {
            if (magnitudes[i] >= threshold) {
                span.m_nEndFrame = first + i + 1;
                return span;
            }
        }
        end = first;
    }
    return span;
}

double CSums::ComponentUncertainty(const CCoherentLine& line) const {
    if (m_dSegments < 2.0) {
        return 0.0;
    }
    const double scatter = (line.m_dSumNorm - std::norm(line.m_sum) / m_dSegments) / (m_dSegments - 1.0);
    return std::sqrt(std::max(0.0, scatter) / (2.0 * m_dSegments));
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

std::optional<CRefusal> ChooseSegments(std::uint64_t firstFrame, std::uint64_t endFrame, double rateHz,
                                       double f0Hz, double closestApartHz, const CAnalysisOptions& options,
                                       CSegmentation& segmentation, CAnalysisReport& report) {
    const std::uint64_t skipFrames =
        firstFrame + static_cast<std::uint64_t>(std::llround(std::min(options.m_dSkipS * rateHz, 1e18)));
    if (skipFrames >= endFrame) {
        return CRefusal{ERefusal::NoFrames,
                        "no frames are left after skipping " + Seconds(options.m_dSkipS) + " (it holds " +
                            Seconds(static_cast<double>(endFrame - std::min(firstFrame, endFrame)) / rateHz) +
                            (firstFrame > 0 ? " from the stimulus's start)" : ")")};
    }
    std::uint64_t frames = endFrame - skipFrames;
    if (options.m_dLengthS) {
        frames = std::min<std::uint64_t>(
            frames, static_cast<std::uint64_t>(std::llround(std::min(*options.m_dLengthS * rateHz, 1e18))));
    }
    if (frames < kMinFrames) {
        return CRefusal{ERefusal::NoFrames, "it is too short to analyse: " + std::to_string(frames) +
                                                " frames after the skip, at least " +
                                                std::to_string(kMinFrames) + " needed"};
    }
    std::size_t wanted = std::max(kMinSegment, NextPowerOfTwo(kLineSpacingBins * rateHz / f0Hz));
    if (std::isfinite(closestApartHz) && closestApartHz > 0.0) {
        const double needed = kSeparationBins * rateHz / closestApartHz;
        const std::size_t separating = NextPowerOfTwo(needed);
        if (needed <= static_cast<double>(kMaxSegment) &&
            static_cast<double>(frames) >= static_cast<double>(separating * kMinSegments)) {
            wanted = std::max(wanted, separating);
        } else if (separating > wanted) {
            segmentation.m_dUnresolvedHz = closestApartHz;
            segmentation.m_dSeparationNeededS = static_cast<double>(separating * kMinSegments) / rateHz;
        }
    }
    std::size_t segment = wanted;
    while (segment > frames) {
        segment /= 2;
    }
    const std::uint64_t segments = frames / segment;
    if (segment < wanted || segments < kMinSegments || wanted * 1.0 < kLineSpacingBins * rateHz / f0Hz) {
        const double needed = static_cast<double>(std::max(wanted, segment) * kMinSegments) / rateHz;
        return CRefusal{
            ERefusal::TooShort,
            "it is too short to resolve the lines: " + Seconds(static_cast<double>(frames) / rateHz) +
                " to analyse, at least " + Seconds(needed) + " needed for lines " +
                platform::FormatGeneral15(f0Hz) + " Hz apart"};
    }
    segmentation.m_nSkipFrames = skipFrames;
    segmentation.m_nSegment = segment;
    segmentation.m_nSegments = segments;
    segmentation.m_dBinHz = rateHz / static_cast<double>(segment);
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
        if (!trackedBin) {
            // For the refusal: what the channel holds instead, and whether the left holds the f0
            // a reference would (swapped cables).
            double strongest = 1e-12; // below -120 dBFS there is nothing to name
            for (std::size_t k = CSegmentSpectrum::kGuardBins + 1; k < spectrum.Bins().size(); ++k) {
                if (spectrum.Power(k) > strongest) {
                    strongest = spectrum.Power(k);
                    clock.m_dStrongestHz = static_cast<double>(k) * binHz;
                }
            }
            if (hasReference) {
                spectrum.Transform(reader.Left());
                clock.m_bLeftHasReference =
                    FindTonePeak(spectrum, plan.m_dFundamentalHz / binHz, kSearchTolerance).has_value();
                spectrum.Transform(tracked());
            }
        }
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
    const auto weighted = [&](CCoherentLine line) {
        if (line.m_bMeasurable) {
            line.m_weights = spectrum.ToneWeights(line.m_dBin);
        }
        return line;
    };
    for (const CStimulusTone& tone : plan.m_aTones) {
        leftSums.m_aLines.push_back(weighted(lineAt(tone.m_dFrequencyHz)));
    }
    for (const CDetectionLine& detection : plan.m_aLines) {
        leftSums.m_aLines.push_back(lineAt(detection.m_dFrequencyHz));
    }
    const double f0 = plan.m_dFundamentalHz;
    const double audioTop = std::min(kAudioHighHz, rateHz / 2.0);
    for (unsigned n = 1; hasReference && n * f0 * scale <= audioTop; ++n) {
        rightSums.m_aLines.push_back(n == 1 ? weighted(lineAt(f0)) : lineAt(n * f0));
    }
    leftSums.m_aPower.assign(bins, 0.0);
    rightSums.m_aPower.assign(hasReference ? bins : 0, 0.0);
    // Each segment's level of the left's lowest measurable tone and of the reference's f0.
    for (std::size_t j = 0; j < plan.m_aTones.size(); ++j) {
        if (leftSums.m_aLines[j].m_bMeasurable) {
            leftSums.m_nTracked = j;
            leftSums.m_aTrackedLevels.assign(static_cast<std::size_t>(segments), 0.0);
            break;
        }
    }
    if (!rightSums.m_aLines.empty() && rightSums.m_aLines.front().m_bMeasurable) {
        rightSums.m_aTrackedLevels.assign(static_cast<std::size_t>(segments), 0.0);
    }
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
            return CRefusal{
                ERefusal::NotFinite,
                "its " + std::string(name) +
                    " channel holds a sample that is not a finite number (NaN or infinite, or beyond "
                    "10^12 times full scale) at frame " +
                    std::to_string(*stats->m_nNotFinite)};
        }
    }
    const bool leftSilent = Silent(sums.m_left.m_stats);
    const bool referenceSilent = hasReference && Silent(sums.m_right.m_stats);
    if (leftSilent && (referenceSilent || !hasReference)) {
        return CRefusal{ERefusal::Silent, "it is silent: nothing reached the recording"};
    }
    if (leftSilent) {
        return CRefusal{ERefusal::Silent,
                        "its left channel, the device's output, is silent: nothing to measure"};
    }
    if (clock.m_dTrackedHz == 0.0) {
        report.m_aWarnings.push_back(
            "No reference channel and no harmonic to take the clock from: the lines are "
            "taken at the settings' frequencies.");
        return std::nullopt;
    }
    if (clock.m_dTrackedBin) {
        return std::nullopt;
    }
    if (referenceSilent) {
        return CRefusal{ERefusal::Silent, "its reference channel is silent: record the reference too, or "
                                          "analyse the left alone"};
    }
    if (clock.m_bLeftHasReference) {
        return CRefusal{ERefusal::Swapped, "the channels look swapped: the reference's f0 of " +
                                               platform::FormatGeneral15(clock.m_dTrackedHz) +
                                               " Hz is on the left channel, not on the reference's"};
    }
    return CRefusal{ERefusal::NotFound,
                    "no stimulus found: no tone near the expected f0 of " +
                        platform::FormatGeneral15(clock.m_dTrackedHz) + " Hz on the " +
                        (hasReference ? "reference" : "left") + " channel" +
                        (clock.m_dStrongestHz > 0.0
                             ? " (its strongest component is near " +
                                   platform::FormatDecimals(clock.m_dStrongestHz, 0) + " Hz)"
                             : std::string()) +
                        ": is it a recording of the stimulus, made with these settings?"};
}

CToneTotals MeasureTones(const CAnalysisPlan& plan, bool hasReference, const CSegmentation& segmentation,
                         const CClock& clock, double rateHz, const CSums& sums, const COnsets& onsets,
                         CAnalysisReport& report) {
    const double f0 = plan.m_dFundamentalHz;
    const double scale = clock.m_dScale;
    const std::span<const CCoherentLine> tones(sums.m_left.m_aLines.data(), plan.m_aTones.size());
    const std::vector<CCoherentLine>& referenceLines = sums.m_right.m_aLines;
    const double periodFrames = rateHz / (f0 * scale);

    // The stimulus's time at the reference time, from the reference's phase: its f0 is
    // sin(2 pi f0 t), phase -pi/2 in cosine terms. Without a reference, from the stimulus's start as
    // found on the left where the recording holds it, else the recording's own start.
    const double referenceS =
        (static_cast<double>(segmentation.m_nSkipFrames) +
         static_cast<double>(segmentation.m_nSegments * segmentation.m_nSegment) / 2.0) /
        rateHz;
    long double stimulusS = static_cast<long double>(referenceS) * scale;
    const bool referencePhase = hasReference && !referenceLines.empty() &&
                                referenceLines.front().m_bMeasurable &&
                                std::abs(sums.Amplitude(referenceLines.front())) > 0.0;
    if (referencePhase) {
        const double measured = std::arg(sums.Amplitude(referenceLines.front())) + kPi / 2.0;
        const double expected = 2.0 * kPi * static_cast<double>(std::fmod(stimulusS * f0, 1.0L));
        stimulusS += static_cast<long double>(WrapRad(measured - expected) / (2.0 * kPi * f0));
        // The onset: the reference's phase gives the stimulus's time modulo a period of f0, and the
        // start found on it says which period (it lies 0.04 periods after a sine's start). A start
        // within the recording's first period may be the recording's own start: it stands only when
        // the phase puts the onset there to a sample.
        if (onsets.m_nReferenceStart && !onsets.m_bFaded) {
            const long double period = 1.0L / f0;
            const long double rough = static_cast<long double>(*onsets.m_nReferenceStart) / rateHz -
                                      kCrossingPeriods * period / scale;
            const long double turns = std::round(((referenceS - rough) * scale - stimulusS) / period);
            const double onset = static_cast<double>(referenceS - (stimulusS + turns * period) / scale);
            const bool early = static_cast<double>(*onsets.m_nReferenceStart) < periodFrames;
            if (!early || std::fabs(onset) * rateHz < 1.0) {
                report.m_dOnsetS = std::fabs(onset) * rateHz < 1e-3 ? 0.0 : onset; // below any precision
                stimulusS += turns * period; // tones off f0's harmonics (the daughters) need the whole time
            }
        } else if (onsets.m_nReferenceStart) { // a fade-in: where a quarter of the level is reached, less
                                               // the third of the fade that takes
            report.m_dOnsetS = std::max(0.0, static_cast<double>(*onsets.m_nReferenceStart) / rateHz -
                                                 onsets.m_dFadeInS / 3.0);
        }
    } else if (!hasReference) {
        if (onsets.m_nLeftStart && static_cast<double>(*onsets.m_nLeftStart) >= periodFrames) {
            report.m_dOnsetS = static_cast<double>(*onsets.m_nLeftStart) / rateHz -
                               (onsets.m_bFaded ? onsets.m_dFadeInS / 3.0 : 0.0);
            stimulusS = static_cast<long double>(referenceS - *report.m_dOnsetS) * scale;
            report.m_aWarnings.push_back("No reference channel: phases and the delay are taken against the "
                                         "stimulus's start as found on the left, to about a sample.");
        } else {
            report.m_aWarnings.push_back("No reference channel: phases and the delay are taken against the "
                                         "recording's start, as if it began with the stimulus.");
        }
    }

    // Level, gain against the stimulus, phase against the stimulus's own at that time.
    std::vector<bool> unresolved(sums.m_left.m_aPower.size(), false);
    std::vector<CPhasePoint> phases;
    std::vector<std::size_t> harmonicResults; // report tones that are harmonics on lines of their own
    CToneTotals totals;
    for (std::size_t i = 0; i < tones.size(); ++i) {
        const CStimulusTone& tone = plan.m_aTones[i];
        if (!tones[i].m_bMeasurable) {
            ++totals.m_nUnmeasurable;
            continue;
        }
        if (tone.m_bUnresolved) { // its power, with its neighbour's, from the spectrum below
            MarkNear(unresolved, tones[i].m_dFrequencyHz, segmentation.m_dBinHz);
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
        if (sums.m_dSegments >= 2.0 && std::abs(measured) > 0.0) {
            const double spread = sums.ComponentUncertainty(tones[i]) / std::abs(measured);
            result.m_dGainUncertaintyDb = 20.0 / std::log(10.0) * spread;
            result.m_dPhaseUncertaintyDeg = spread * 180.0 / kPi;
        }
        report.m_aTones.push_back(result);
        // A line shared by several tones counts once in the stimulus's power: with the first of them
        // (harmonics come before the daughters).
        bool counted = false;
        for (std::size_t j = 0; j < i && tone.m_combined != tone.m_stimulus; ++j) {
            counted |= std::fabs(plan.m_aTones[j].m_dFrequencyHz - tone.m_dFrequencyHz) <
                       std::max(plan.m_dCombinedWithinHz, 1e-9);
        }
        if (!counted) {
            totals.m_dStimulusPower += std::norm(measured) / 2.0;
            totals.m_dStimulusNoise += std::pow(sums.ComponentUncertainty(tones[i]), 2.0);
        }
        if (tone.m_eKind == EToneKind::Harmonic && tone.m_combined == tone.m_stimulus) {
            phases.push_back({tone.m_nNumber, tones[i].m_dFrequencyHz, relative, std::abs(measured)});
            harmonicResults.push_back(report.m_aTones.size() - 1);
        }
    }
    for (std::size_t k = 0; k < unresolved.size(); ++k) {
        totals.m_dStimulusPower += unresolved[k] ? sums.m_left.m_aPower[k] : 0.0;
    }
    const CDelayFit delay = FitDelay(phases, f0 * scale);
    if (!delay.m_dDelayS) {
        return totals;
    }
    double delayS = *delay.m_dDelayS;
    EPolarity polarity = delay.m_ePolarity;
    // Where the recording holds the stimulus's start on both channels, their starts tell the folded
    // delay's half periods: tau + k T/2, the polarity turning with each half period.
    // The left's harmonics reach a quarter of their level within a sample or two of their start.
    if (referencePhase && report.m_dOnsetS && onsets.m_nLeftStart && !onsets.m_bFaded) {
        const double half = 0.5 / (f0 * scale);
        const double fromStarts = static_cast<double>(*onsets.m_nLeftStart) / rateHz - *report.m_dOnsetS;
        const double halves = std::round((fromStarts - delayS) / half);
        delayS += halves * half;
        if (std::fmod(std::fabs(halves), 2.0) == 1.0) {
            polarity = polarity == EPolarity::Normal ? EPolarity::Inverted : EPolarity::Normal;
        }
        report.m_bDelayFromStarts = true;
    }
    report.m_dDelayMs = delayS * 1000.0;
    report.m_ePolarity = polarity;
    // Group delay between neighbouring harmonics: the phases less the delay's own turn, unwrapped
    // between the two, give -d(phase)/d(angular frequency) about the delay.
    const double inversion = polarity == EPolarity::Inverted ? kPi : 0.0;
    for (std::size_t p = 0; p + 1 < phases.size(); ++p) {
        const auto residual = [&](const CPhasePoint& point) {
            return WrapRad(point.m_dPhaseRad + 2.0 * kPi * point.m_dFrequencyHz * delayS - inversion);
        };
        const double step = WrapRad(residual(phases[p + 1]) - residual(phases[p]));
        const double spacing = 2.0 * kPi * (phases[p + 1].m_dFrequencyHz - phases[p].m_dFrequencyHz);
        report.m_aTones[harmonicResults[p]].m_dGroupDelayMs = (delayS - step / spacing) * 1000.0;
    }
    return totals;
}

void MeasureLines(const CAnalysisPlan& plan, const CSums& sums, const CToneTotals& tones,
                  CAnalysisReport& report) {
    const std::span<const CCoherentLine> lines(sums.m_left.m_aLines.data() + plan.m_aTones.size(),
                                               plan.m_aLines.size());
    std::size_t unmeasurable = tones.m_nUnmeasurable;
    double evenPower = 0.0, oddPower = 0.0;
    double evenNoise = 0.0, oddNoise = 0.0; // what noise alone puts on the same lines (their scatter)
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!lines[i].m_bMeasurable) {
            ++unmeasurable;
            continue;
        }
        const std::complex<double> measured = sums.Amplitude(lines[i]);
        report.m_aLines.push_back(
            {plan.m_aLines[i].m_nNumber, lines[i].m_dFrequencyHz, Dbfs(std::abs(measured))});
        (plan.m_aLines[i].Even() ? evenPower : oddPower) += std::norm(measured) / 2.0;
        (plan.m_aLines[i].Even() ? evenNoise : oddNoise) +=
            std::pow(sums.ComponentUncertainty(lines[i]), 2.0);
    }
    if (unmeasurable > 0) {
        report.m_aWarnings.push_back(std::to_string(unmeasurable) +
                                     (unmeasurable == 1 ? " line lies" : " lines lie") +
                                     " too close to 0 Hz or half the sample rate to be measured.");
    }
    if (tones.m_dStimulusPower > 0.0) {
        report.m_dEvenOrderDb = PowerDb(evenPower / tones.m_dStimulusPower);
        report.m_dOddOrderDb = PowerDb(oddPower / tones.m_dStimulusPower);
        // Within 3 dB of the noise's own share: the lines hold noise, not distortion.
        report.m_bEvenOrderNoiseLimited = sums.m_dSegments >= 2.0 && evenPower < 2.0 * evenNoise;
        report.m_bOddOrderNoiseLimited = sums.m_dSegments >= 2.0 && oddPower < 2.0 * oddNoise;
    }
}

void MeasureNoise(const CAnalysisPlan& plan, const CSegmentation& segmentation,
                  const CSegmentSpectrum& spectrum, const CSums& sums, const CToneTotals& tones,
                  CAnalysisReport& report) {
    const std::vector<double>& leftPower = sums.m_left.m_aPower;
    const std::size_t bins = leftPower.size();
    const double binHz = segmentation.m_dBinHz;
    std::vector<bool> nearLine(bins, false), nearTone(bins, false);
    MarkDc(nearLine);
    for (std::size_t i = 0; i < sums.m_left.m_aLines.size(); ++i) {
        const double hz = sums.m_left.m_aLines[i].m_dFrequencyHz;
        MarkNear(nearLine, hz, binHz);
        if (i < plan.m_aTones.size()) {
            MarkNear(nearTone, hz, binHz);
        }
    }
    // The noise per bin, bin by bin: the median of the bins near no line in each stretch of 64 bins
    // (noise is seldom white: what a device adds rises and falls across the band), which a few
    // discrete components leave where it is, scaled to the mean that Gaussian noise has. A bin's power
    // is a mean over S segments of exponentially distributed powers (a gamma distribution of shape
    // S), whose median is ln 2 of its mean for S = 1 and (1 - 1/(9S))^3 of it for more (Wilson and
    // Hilferty). A stretch with fewer than 8 such bins takes its neighbours'.
    constexpr std::size_t kStretch = 64;
    const double segments = sums.m_dSegments;
    const double medianOfMean = segments < 2.0 ? std::log(2.0) : std::pow(1.0 - 1.0 / (9.0 * segments), 3.0);
    const std::size_t stretches = (bins + kStretch - 1) / kStretch;
    std::vector<std::optional<double>> stretchNoise(stretches);
    std::vector<double> between;
    for (std::size_t t = 0; t < stretches; ++t) {
        between.clear();
        for (std::size_t k = t * kStretch; k < std::min(bins, (t + 1) * kStretch); ++k) {
            if (!nearLine[k]) {
                between.push_back(leftPower[k]);
            }
        }
        if (between.size() >= 8) {
            const auto middle = between.begin() + static_cast<std::ptrdiff_t>(between.size() / 2);
            std::nth_element(between.begin(), middle, between.end());
            stretchNoise[t] = *middle / medianOfMean;
        }
    }
    std::vector<double> noise(bins, 0.0);
    double noiseSum = 0.0;
    for (std::size_t t = 0; t < stretches; ++t) {
        std::optional<double> value = stretchNoise[t];
        for (std::size_t d = 1; !value && d < stretches; ++d) { // the nearest stretch that has one
            if (t >= d && stretchNoise[t - d]) {
                value = stretchNoise[t - d];
            } else if (t + d < stretches && stretchNoise[t + d]) {
                value = stretchNoise[t + d];
            }
        }
        if (!value) {
            return; // no bin near no line at all
        }
        for (std::size_t k = t * kStretch; k < std::min(bins, (t + 1) * kStretch); ++k) {
            noise[k] = *value;
            noiseSum += *value;
        }
    }
    // As the plotted spectrum scales a bin: a tone's peak bin reads the tone's level.
    report.m_dNoisePerBinDbfs =
        PowerDb(2.0 * noiseSum / static_cast<double>(bins) * spectrum.NoiseBandwidthBins());
    report.m_dNoiseFloorDbfs = PowerDb(2.0 * noiseSum);

    // Spurs: peaks between the lines 10 dB or more above the noise there, each with the bins of its
    // main lobe that are near no tone or line. About DC, its own main lobe (its power response times
    // its square) is taken out first, so that hum beside it stands out.
    constexpr double kSpurMargin = 10.0; // in power: 10 dB
    constexpr std::size_t kMostSpurs = 20;
    const auto lobe = static_cast<std::size_t>(CSegmentSpectrum::kMainLobeBins);
    const double dc = sums.m_left.m_dDcSum / segments;
    std::vector<double> power = leftPower;
    std::vector<bool> nearStimulus = nearLine; // the lines but DC
    for (std::size_t k = 0; k <= lobe + 1 && k < bins; ++k) {
        power[k] = std::max(0.0, power[k] - dc * dc * spectrum.DcPower(k));
    }
    for (std::size_t k = 0; k <= static_cast<std::size_t>(CSegmentSpectrum::kGuardBins) && k < bins; ++k) {
        nearStimulus[k] = false;
    }
    for (std::size_t i = 0; i < sums.m_left.m_aLines.size(); ++i) {
        MarkNear(nearStimulus, sums.m_left.m_aLines[i].m_dFrequencyHz, binHz);
    }
    std::vector<bool> taken(bins, false);
    for (std::size_t k = 2; k + 1 < bins; ++k) {
        if (nearStimulus[k] || taken[k] || power[k] < kSpurMargin * noise[k] || power[k] < power[k - 1] ||
            power[k] < power[k + 1]) {
            continue;
        }
        double lobePower = 0.0;
        for (std::size_t m = k > lobe ? k - lobe : 0; m <= std::min(bins - 1, k + lobe); ++m) {
            if (!nearStimulus[m]) {
                lobePower += std::max(0.0, power[m] - noise[m]);
                taken[m] = true;
            }
        }
        // The lobe is close to a Gaussian: a parabola through the log powers finds its top.
        const double l0 = std::log(leftPower[k - 1]), l1 = std::log(leftPower[k]),
                     l2 = std::log(leftPower[k + 1]);
        const double curve = l0 - 2.0 * l1 + l2;
        const double offset = curve < 0.0 ? std::clamp(0.5 * (l0 - l2) / curve, -0.5, 0.5) : 0.0;
        CSpur spur;
        spur.m_dFrequencyHz = (static_cast<double>(k) + offset) * binHz;
        spur.m_dLevelDbfs = PowerDb(2.0 * std::max(lobePower, power[k]));
        for (const double mains : {50.0, 60.0}) {
            const double n = std::round(spur.m_dFrequencyHz / mains);
            if (spur.m_strName.empty() && n >= 1.0 && n <= 20.0 &&
                std::fabs(spur.m_dFrequencyHz - n * mains) <= std::max(1.0, 0.2 * binHz)) {
                static const char* const kOrdinals[] = {"", "", "2nd", "3rd"};
                const auto whole = static_cast<int>(n);
                spur.m_strName =
                    whole == 1 ? "mains " + platform::FormatGeneral15(mains) + " Hz"
                               : (whole <= 3 ? std::string(kOrdinals[whole]) : std::to_string(whole) + "th") +
                                     " of mains " + platform::FormatGeneral15(mains) + " Hz";
            }
        }
        report.m_aSpurs.push_back(spur);
    }
    std::sort(report.m_aSpurs.begin(), report.m_aSpurs.end(),
              [](const CSpur& a, const CSpur& b) { return a.m_dLevelDbfs > b.m_dLevelDbfs; });
    if (report.m_aSpurs.size() > kMostSpurs) {
        report.m_aSpurs.resize(kMostSpurs);
    }

    // Distortion + noise: every bin but the stimulus tones' (where the noise per bin stands in), less
    // the DC's own main lobe (its power response times the DC's square), against the stimulus.
    if (tones.m_dStimulusPower > 0.0) {
        double rest = 0.0;
        for (std::size_t k = 0; k < bins; ++k) {
            double bin = nearTone[k] ? noise[k] : leftPower[k];
            if (k <= lobe) {
                bin = std::max(0.0, bin - dc * dc * spectrum.DcPower(k));
            }
            rest += bin;
        }
        report.m_dDistortionNoiseDb = PowerDb(rest / tones.m_dStimulusPower);
        report.m_bDistortionNoiseNoiseLimited = rest < 2.0 * noiseSum;
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

void RecordFacts(bool hasReference, const CSegmentation& segmentation, double rateHz,
                 const CSegmentSpectrum& spectrum, const CSums& sums, CAnalysisReport& report) {
    // The left's spectrum for plots, amplitude-scaled: a tone's peak bin reads its level.
    const std::vector<double>& leftPower = sums.m_left.m_aPower;
    report.m_aLeftSpectrumDbfs.resize(leftPower.size());
    for (std::size_t k = 0; k < leftPower.size(); ++k) {
        report.m_aLeftSpectrumDbfs[k] =
            static_cast<float>(PowerDb(2.0 * leftPower[k] * spectrum.NoiseBandwidthBins()));
    }
    const auto facts = [&](const CChannelSums& channel, const char* name) {
        const CChannelStats& stats = channel.m_stats;
        if (stats.m_nFullScale > 0) {
            report.m_aWarnings.push_back("The " + std::string(name) + " channel reaches full scale in " +
                                         std::to_string(stats.m_nFullScale) +
                                         " samples: the recording may be clipped.");
        }
        // DC through the window the lines are measured with: a plain mean over a part of a period of
        // a low f0 would read the tone as an offset.
        const double dc = channel.m_dDcSum / sums.m_dSegments;
        if (std::fabs(dc) > kDcWarning) {
            report.m_aWarnings.push_back(
                "The " + std::string(name) + " channel has a DC offset of " +
                (std::fabs(dc) < 1e6 ? platform::FormatDecimals(dc, 4) : platform::FormatGeneral15(dc)) +
                " (" + platform::FormatDecimals(Dbfs(std::fabs(dc)), 1) + " dBFS).");
        }
        // A level that changes across the span (a dropout, a fade, a compressor, a loose cable): the
        // tracked tone's level in each segment against its median, beyond 0.5 dB and beyond four
        // times what the noise makes it scatter. That scatter comes from the noise floor (the median
        // bin, over ln 2 for the mean of Gaussian noise's power), not from the segments' spread,
        // which the change itself would widen.
        const std::vector<double>& levels = channel.m_aTrackedLevels;
        if (levels.size() < 2) {
            return;
        }
        std::vector<double> sorted = levels;
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2),
                         sorted.end());
        const double median = sorted[sorted.size() / 2];
        if (!(median > 0.0)) {
            return;
        }
        const CCoherentLine& line = channel.m_aLines[channel.m_nTracked];
        std::vector<double> power = channel.m_aPower;
        std::nth_element(power.begin(), power.begin() + static_cast<std::ptrdiff_t>(power.size() / 2),
                         power.end());
        const double noisePerBin = power.empty() ? 0.0 : power[power.size() / 2] / std::log(2.0);
        const double noiseDb =
            20.0 / std::log(10.0) *
            spectrum.ToneNoiseRms(line.m_weights ? &*line.m_weights : nullptr, noisePerBin) / median;
        const double limitDb = std::max(0.5, 4.0 * noiseDb);
        std::size_t worst = 0;
        for (std::size_t s = 0; s < levels.size(); ++s) {
            if (std::fabs(Dbfs(levels[s] / median)) > std::fabs(Dbfs(levels[worst] / median))) {
                worst = s;
            }
        }
        const double worstDb = Dbfs(levels[worst] / median);
        if (!(std::fabs(worstDb) > limitDb)) {
            return;
        }
        // The run of segments about the worst that lie beyond the limit the same way.
        const auto beyond = [&](std::size_t s) {
            const double db = Dbfs(levels[s] / median);
            return worstDb < 0.0 ? db < -limitDb : db > limitDb;
        };
        std::size_t from = worst, to = worst + 1;
        while (from > 0 && beyond(from - 1)) {
            --from;
        }
        while (to < levels.size() && beyond(to)) {
            ++to;
        }
        const auto seconds = [&](std::size_t s) {
            return platform::FormatDecimals(
                static_cast<double>(segmentation.m_nSkipFrames + s * segmentation.m_nSegment) / rateHz, 1);
        };
        if (!report.m_dLevelVariationDb || std::fabs(worstDb) > std::fabs(*report.m_dLevelVariationDb)) {
            report.m_dLevelVariationDb = worstDb;
        }
        report.m_aWarnings.push_back(
            "The level of the " + std::string(name) + " channel varies across the span: " + seconds(from) +
            " s to " + seconds(to) + " s is " + platform::FormatDecimals(std::fabs(worstDb), 1) + " dB " +
            (worstDb < 0.0 ? "down" : "up") + " (a dropout, a fade, a compressor or a loose connection?).");
    };
    facts(sums.m_left, "left");
    if (hasReference) {
        facts(sums.m_right, "reference");
    }
}

} // namespace analysis::stages
