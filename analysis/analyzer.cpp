#include "analysis/analyzer.h"

#include <algorithm>
#include <cmath>

#include "analysis/analysis_stages.h"
#include "platform/number_text.h"

namespace analysis {

namespace {

// A clock offset beyond this is a warning: the recording is probably not at the rate it claims.
constexpr double kClockWarningPpm = 1000.0;

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
        options.m_nLeftChannel < 0 || options.m_nRightChannel < -1 ||
        !(options.m_dFadeInS >= 0.0 && options.m_dFadeInS < 1e9) ||
        !(options.m_dFadeOutS >= 0.0 && options.m_dFadeOutS < 1e9)) {
        throw std::invalid_argument(
            "the skip must be 0 s or more, the length above 0 s, the fades 0 s or more, channels 1 or more");
    }
    CAnalysisReport report;
    report.m_strRecording = recording.Name();
    report.m_strFormat = recording.Format();
    report.m_nChannels = recording.Channels();
    report.m_dSampleRateHz = recording.SampleRate();
    report.m_dSkipS = options.m_dSkipS;
    report.m_dNominalFundamentalHz = plan.m_dFundamentalHz;
    report.m_aWarnings = plan.m_aWarnings;
    const auto refuse = [&](const stages::CRefusal& refusal) {
        report.m_eRefusal = refusal.m_eKind;
        report.m_strRefusal = refusal.m_strWhy;
        return report;
    };
    if (plan.m_strRefusal) {
        return refuse({ERefusal::NoStimulus, *plan.m_strRefusal});
    }
    if (recording.Frames() == 0) {
        return refuse({ERefusal::NoFrames, "it holds no audio frames"});
    }

    int left = 0, right = 0;
    if (const auto refusal = stages::ChooseChannels(recording.Channels(), options, left, right)) {
        return refuse(*refusal);
    }
    report.m_nLeftChannel = left;
    report.m_nRightChannel = right;
    const bool hasReference = right > 0;
    report.m_reference.m_bPresent = hasReference;

    const double rate = recording.SampleRate();
    // Where the stimulus lies: found on the reference (on the left without one), so that silence or
    // other sound before and after it stays out; the fades are left out too.
    std::uint64_t firstFrame = 0, endFrame = recording.Frames();
    stages::COnsets onsets;
    onsets.m_bFaded = options.m_dFadeInS > 0.0;
    onsets.m_dFadeInS = options.m_dFadeInS;
    if (options.m_bFindStimulus) {
        const stages::CStimulusSpan tracked =
            stages::FindStimulus(recording, hasReference ? right - 1 : left - 1);
        if (tracked.m_bFound) {
            const auto frames = [&](double seconds) {
                return static_cast<std::uint64_t>(std::llround(std::min(seconds * rate, 1e18)));
            };
            // The start found lies where a quarter of the level is reached: on the reference's sine 0.04
            // periods after its start, under a fade-in a third of the fade after it.
            const std::uint64_t lag = options.m_dFadeInS > 0.0 ? frames(options.m_dFadeInS / 3.0)
                                      : hasReference           ? frames(0.040215 / plan.m_dFundamentalHz)
                                                               : 0;
            firstFrame =
                tracked.m_nStartFrame - std::min(tracked.m_nStartFrame, lag) + frames(options.m_dFadeInS);
            endFrame = tracked.m_nEndFrame - std::min(tracked.m_nEndFrame, frames(options.m_dFadeOutS));
            (hasReference ? onsets.m_nReferenceStart : onsets.m_nLeftStart) = tracked.m_nStartFrame;
            if (hasReference) {
                const stages::CStimulusSpan leftSpan = stages::FindStimulus(recording, left - 1);
                if (leftSpan.m_bFound) {
                    onsets.m_nLeftStart = leftSpan.m_nStartFrame;
                }
            }
        }
    }
    stages::CSegmentation segmentation;
    if (const auto refusal =
            stages::ChooseSegments(firstFrame, std::max(firstFrame, endFrame), rate, plan.m_dFundamentalHz,
                                   plan.m_dClosestApartHz, options, segmentation, report)) {
        return refuse(*refusal);
    }
    // Tones too close for the segments the recording allows are left out of the tones measured.
    CAnalysisPlan separated;
    if (segmentation.m_dUnresolvedHz) {
        separated = plan;
        const std::string tones =
            MarkUnresolvedTones(separated, stages::kSeparationBins * segmentation.m_dBinHz);
        report.m_aWarnings.push_back("The recording is too short to separate tones " +
                                     platform::FormatDecimals(*segmentation.m_dUnresolvedHz, 1) +
                                     " Hz apart (" + tones + "): they are not measured; " +
                                     platform::FormatDecimals(segmentation.m_dSeparationNeededS, 1) +
                                     " s of stimulus after the skip would separate them.");
    }
    const CAnalysisPlan& lines = segmentation.m_dUnresolvedHz ? separated : plan;
    report.m_dFirstAnalyzedS = static_cast<double>(segmentation.m_nSkipFrames) / rate;
    CSegmentSpectrum spectrum(segmentation.m_nSegment);
    stages::CSegmentReader reader(recording, segmentation.m_nSkipFrames, segmentation.m_nSegment, left - 1,
                                  right - 1);
    stages::CProgressCount progress(feedback, stages::ClockFrames(segmentation) +
                                                  segmentation.m_nSegments * segmentation.m_nSegment);

    stages::CClock clock = stages::TrackClock(lines, hasReference, segmentation, reader, spectrum, progress);
    if (clock.m_dTrackedBin) {
        clock.m_dScale = *clock.m_dTrackedBin * segmentation.m_dBinHz / clock.m_dTrackedHz;
        report.m_dFundamentalHz = plan.m_dFundamentalHz * clock.m_dScale;
        report.m_dClockOffsetPpm = (clock.m_dScale - 1.0) * 1e6;
        if (std::fabs(*report.m_dClockOffsetPpm) > kClockWarningPpm) {
            report.m_aWarnings.push_back(
                "The clock offset of " + platform::FormatDecimals(*report.m_dClockOffsetPpm, 0) +
                " ppm is beyond +-1000 ppm: is the recording at the rate it claims?");
        }
    }
    report.m_dBandLimitHz = plan.m_dBandLimitHz * clock.m_dScale;

    const stages::CSums sums =
        stages::SumSegments(lines, hasReference, segmentation, clock, rate, reader, spectrum, progress);
    if (const auto refusal = stages::CheckSums(hasReference, clock, sums, report)) {
        report.m_dFundamentalHz.reset();
        report.m_dClockOffsetPpm.reset();
        return refuse(*refusal);
    }
    const stages::CToneTotals tones =
        stages::MeasureTones(lines, hasReference, segmentation, clock, rate, sums, onsets, report);
    stages::MeasureLines(lines, sums, tones, report);
    stages::MeasureNoise(lines, segmentation, spectrum, sums, tones, report);
    stages::MeasureReference(segmentation, rate, sums, report);
    stages::RecordFacts(hasReference, segmentation, rate, spectrum, sums, report);
    return report;
}

} // namespace analysis
