#pragma once

#include <complex>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analysis/analysis_plan.h"
#include "analysis/analysis_report.h"
#include "analysis/analyzer.h"
#include "analysis/recording.h"
#include "analysis/segment_spectrum.h"
#include "platform/progress.h"

// The analyser's stages, in the order AnalyzeRecording runs them: channels, segments, clock (the
// first pass), sums (the second pass), tones, lines, noise, reference, facts. Each reads what the
// stages before it found and fills its part of the report. Internal to the analysis room.
namespace analysis::stages {

// Why a stage refused the recording.
struct CRefusal {
    ERefusal m_eKind;
    std::string m_strWhy; // one sentence that names no program's options
};

// A sample this many times full scale is no recording of a device: its squares would overflow the sums.
inline constexpr double kFarBeyond = 1e12;

// Sums, extremes and full-scale samples of one channel over the analysed frames.
struct CChannelStats {
    double m_dSum = 0.0;
    double m_dSumSquares = 0.0;
    std::uint64_t m_nFullScale = 0;
    std::uint64_t m_nCount = 0;
    // The first frame (from the file's start) whose sample is not finite, or beyond kFarBeyond: no
    // power or level can be summed from it.
    std::optional<std::uint64_t> m_nNotFinite;

    void Add(const double* samples, std::size_t count, std::uint64_t firstFrame);
    void Add(const CChannelStats& other);
    double Mean() const { return m_nCount > 0 ? m_dSum / static_cast<double>(m_nCount) : 0.0; }
    // The RMS as dBFS: against the RMS of a full-scale sine.
    double RmsDbfs() const;
};

// Reads the analysed frames segment by segment, or several segments at once, and splits out the two
// channels into consecutive segments of their own.
class CSegmentReader {
public:
    // `left`, `right`: 0-based channels; right -1 for none.
    CSegmentReader(CRecording& recording, std::uint64_t firstFrame, std::size_t segmentFrames, int left,
                   int right);
    // Segments [first, first + count) into Left() and Right(), one after the other.
    void Read(std::uint64_t first, std::size_t count = 1);
    const double* Left() const { return m_aLeft.data(); }
    const double* Right() const { return m_aRight.data(); }

private:
    CRecording& m_recording;
    std::uint64_t m_nFirstFrame;
    std::size_t m_nSegment;
    std::size_t m_nChannels;
    int m_nLeft, m_nRight;
    std::size_t m_nChunk = 1;
    std::vector<double> m_aChunk, m_aLeft, m_aRight;
};

// Counts the frames read and asks the progress whether to stop: throws CAnalysisCancelled.
class CProgressCount {
public:
    CProgressCount(platform::CProgress* progress, std::uint64_t total)
        : m_pProgress(progress), m_nTotal(total) {}
    void Advance(std::uint64_t frames);

private:
    platform::CProgress* m_pProgress;
    std::uint64_t m_nTotal;
    std::uint64_t m_nDone = 0;
};

// A line's complex amplitude at the reference time, summed over the segments: each segment's value
// (phase at its centre) turned back by the tone's advance from the reference time.
struct CCoherentLine {
    double m_dFrequencyHz = 0.0;
    double m_dBin = 0.0;
    bool m_bMeasurable = false;
    // A stimulus tone is taken by its least-noise weights; a detection line, which may hold nothing
    // but must never take in a strong neighbour's leakage, by the plain main-lobe sum.
    std::optional<CSegmentSpectrum::CToneWeights> m_weights;
    std::complex<double> m_sum;
    double m_dSumNorm = 0.0; // the sum of the segments' |value|^2, for the scatter
};

// One channel's sums over segments: its lines' turned values, and each bin's power. Sums over
// different segments add up, so threads may share the segments out and add their sums after.
struct CChannelSums {
    std::vector<CCoherentLine> m_aLines;
    std::vector<double> m_aPower;
    CChannelStats m_stats;
    std::uint64_t m_nFirstFrame = 0; // the analysed frames' first, for the statistics
    // The level of line m_nTracked in every segment (a dropout, a fade or a compressor shows there).
    std::size_t m_nTracked = 0;
    std::vector<double> m_aTrackedLevels;
    double m_dDcSum = 0.0; // the segments' DC (CSegmentSpectrum::Dc), summed
    void Add(const CChannelSums& other);
};

// 0. Stimulus: where the stimulus lies in the recording, from one channel (0-based): the first and
// the last sample whose magnitude reaches a quarter of the channel's level (the largest of the
// 99.9th percentiles of |x| in eight one-second blocks spread over the recording). A sine crosses a
// quarter of its peak 0.04 periods after its start, so on the reference the start found lies that
// close after the true one; the tones stage refines it from the reference's phase.
struct CStimulusSpan {
    bool m_bFound = false;           // false: the channel is silent
    std::uint64_t m_nStartFrame = 0; // the first frame at the threshold
    std::uint64_t m_nEndFrame = 0;   // one past the last
    double m_dLevel = 0.0;           // the channel's level, against full scale 1
};
CStimulusSpan FindStimulus(CRecording& recording, int channel);

// 1. Channels: which of the recording's `channels` hold the left (the device's output) and the
// reference, 1-based in `left` and `right` (0: no reference). More than two with none chosen, a
// channel that is not there, or the same channel twice is a refusal.
std::optional<CRefusal> ChooseChannels(int channels, const CAnalysisOptions& options, int& left, int& right);

// 2. Segments: the frames from `firstFrame` plus the skip to `endFrame` (at most the length), cut into
// whole segments long enough that lines f0 apart lie kLineSpacingBins apart. Nothing left after the
// skip, fewer than 64 frames, or too few to resolve the lines is a refusal.
// Tones `closestApartHz` apart (a daughter's beside a harmonic) need segments long enough to keep
// their main lobes apart (kSeparationBins); where the recording cannot give kMinSegments of those,
// the segments stay as the lines need and m_dUnresolvedHz says which tones could not be separated.
struct CSegmentation {
    std::uint64_t m_nSkipFrames = 0;
    std::size_t m_nSegment = 0; // M, a power of two
    std::uint64_t m_nSegments = 0;
    double m_dBinHz = 0.0;
    std::optional<double> m_dUnresolvedHz; // tones this close are not separated
    double m_dSeparationNeededS = 0.0;     // what would separate them
};
// Tones this many bins apart are measured each on its own: their main lobes do not meet.
inline constexpr double kSeparationBins = 2.0 * CSegmentSpectrum::kMainLobeBins + 2.0;
std::optional<CRefusal> ChooseSegments(std::uint64_t firstFrame, std::uint64_t endFrame, double rateHz,
                                       double f0Hz, double closestApartHz, const CAnalysisOptions& options,
                                       CSegmentation& segmentation, CAnalysisReport& report);

// 3. Clock (the first pass): the tracked tone (the reference's f0, or the left's lowest harmonic) found
// in the middle segment, then its exact frequency from its phases over a run of segments about the
// middle and a few dozen spread over the recording. `m_dScale` is the measured over the nominal
// frequency (1 when no tone was found), by which every line's frequency is scaled.
struct CClock {
    double m_dTrackedHz = 0.0; // nominal; 0 when nothing can be tracked
    std::optional<double> m_dTrackedBin;
    double m_dScale = 1.0;
    double m_dStrongestHz = 0.0; // the strongest component of the tracked channel's middle segment
    // The left's middle segment has a tone at f0 as strong as a reference (the channels look swapped).
    bool m_bLeftHasReference = false;
};
// The frames this stage reads, for the progress's total.
std::uint64_t ClockFrames(const CSegmentation& segmentation);
CClock TrackClock(const CAnalysisPlan& plan, bool hasReference, const CSegmentation& segmentation,
                  CSegmentReader& reader, CSegmentSpectrum& spectrum, CProgressCount& progress);

// 4. Sums (the second pass): both channels' spectra, every line measured coherently at its scaled
// frequency, on two threads. The left's lines are its stimulus tones, then its detection lines; the
// reference's, f0 and its harmonics up to 20 kHz (or half the rate). Powers are means per segment,
// line sums are not yet divided by the segment count.
struct CSums {
    CChannelSums m_left, m_right;
    double m_dSegments = 0.0;
    // A line's amplitude and phase at the reference time: its sum's mean over the segments.
    std::complex<double> Amplitude(const CCoherentLine& line) const { return line.m_sum / m_dSegments; }
    // The standard uncertainty of that mean in each of its two components (radial and tangential),
    // from the segments' scatter about it; 0 with one segment.
    double ComponentUncertainty(const CCoherentLine& line) const;
};
CSums SumSegments(const CAnalysisPlan& plan, bool hasReference, const CSegmentation& segmentation,
                  const CClock& clock, double rateHz, CSegmentReader& reader, CSegmentSpectrum& spectrum,
                  CProgressCount& progress);

// After the sums: a sample that is not finite, and no tone where the clock was looked for (another
// signal, other settings, or swapped channels), are refusals.
std::optional<CRefusal> CheckSums(bool hasReference, const CClock& clock, const CSums& sums,
                                  CAnalysisReport& report);

// 5. Tones: each stimulus tone's level, gain and phase against the stimulus at the reference time
// (taken from the reference's phase), then the delay and polarity from the harmonics' phases.
struct CToneTotals {
    double m_dStimulusPower = 0.0; // as measured, each shared line once: the distortion figures' denominator
    double m_dStimulusNoise = 0.0; // the noise those measurements hold (their scatter), in the same units
    std::size_t m_nUnmeasurable = 0; // tones too close to 0 Hz or half the rate
};
// Where the stimulus starts on each channel, as stage 0 found it, for the onset and the delay.
struct COnsets {
    std::optional<std::uint64_t> m_nReferenceStart; // the reference's first frame at the threshold
    std::optional<std::uint64_t> m_nLeftStart;      // the left's
    bool m_bFaded = false;                          // a fade-in: the starts are rough
    double m_dFadeInS = 0.0;
};
CToneTotals MeasureTones(const CAnalysisPlan& plan, bool hasReference, const CSegmentation& segmentation,
                         const CClock& clock, double rateHz, const CSums& sums, const COnsets& onsets,
                         CAnalysisReport& report);

// 6. Lines: the detection lines' levels, and the even- and odd-order figures from them; a warning for
// the tones and lines that could not be measured.
void MeasureLines(const CAnalysisPlan& plan, const CSums& sums, const CToneTotals& tones,
                  CAnalysisReport& report);

// 7. Noise: the noise floor from the bins near no line (their median, scaled to the mean of Gaussian
// noise, so that discrete components do not raise it); the spurs (components between the lines 10 dB
// or more above the floor); distortion + noise from every bin but the stimulus tones' (where the
// noise per bin stands in), less the DC's own main lobe only, so that hum beside DC counts; and
// whether it is noise-limited (within 3 dB of the floor alone).
void MeasureNoise(const CAnalysisPlan& plan, const CSegmentation& segmentation,
                  const CSegmentSpectrum& spectrum, const CSums& sums, const CToneTotals& tones,
                  CAnalysisReport& report);

// 8. Reference: its level, and its harmonics and its noise from 20 Hz to 20 kHz against it.
void MeasureReference(const CSegmentation& segmentation, double rateHz, const CSums& sums,
                      CAnalysisReport& report);

// 9. Facts: the left's spectrum for plots, and the warnings about the recording: clipping, a DC
// offset (measured through the window), a level that changes across the span.
void RecordFacts(bool hasReference, const CSegmentation& segmentation, double rateHz,
                 const CSegmentSpectrum& spectrum, const CSums& sums, CAnalysisReport& report);

} // namespace analysis::stages
