#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>

#include "analysis/analysis_plan.h"
#include "analysis/analysis_report.h"
#include "analysis/recording.h"
#include "platform/progress.h"

namespace analysis {

// Which part of a recording to analyse, and which channels.
struct CAnalysisOptions {
    // Where the stimulus starts and ends in the recording is found (silence or other sound before
    // and after it is left out), and the skip counts from its start; false: from the recording's.
    bool m_bFindStimulus = true;
    double m_dSkipS = 0.1;            // settling time skipped at the start, >= 0
    std::optional<double> m_dLengthS; // at most this much after the skip, > 0; all of the rest when absent
    double m_dFadeInS = 0.0;          // the stimulus's fades, >= 0: left out of the analysed span
    double m_dFadeOutS = 0.0;
    int m_nLeftChannel = 0;  // 1-based; 0: the first
    int m_nRightChannel = 0; // 1-based; 0: the second of a stereo file, none for a mono one;
                             // -1: none
};

class CAnalysisCancelled : public platform::CCancelled {
public:
    CAnalysisCancelled() : platform::CCancelled("the analysis was cancelled") {}
};

// Measures `recording` against the stimulus of `plan` (see README "Measuring a device" for every
// figure). The recording is read twice, a segment at a time: memory stays bounded whatever its
// length (a few segments of at most 2^20 frames), time is linear in it.
// A recording that cannot be analysed (no frames after the skip, too many channels to choose from,
// samples that are not finite, settings without a stimulus) gives a report with m_strRefusal;
// facts about a measurement (clipping, silence, no tone near f0, ...) are warnings. Throws
// std::invalid_argument for options out of range, CAnalysisCancelled when the feedback asks, and
// what the recording's Read throws. `progress` (may be null) counts frames read over both passes;
// its cancel makes this throw CAnalysisCancelled.
CAnalysisReport AnalyzeRecording(const CAnalysisPlan& plan, CRecording& recording,
                                 const CAnalysisOptions& options, platform::CProgress* progress = nullptr);

} // namespace analysis
