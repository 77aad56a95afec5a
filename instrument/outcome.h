#pragma once

#include <optional>
#include <string>

#include "analysis/analysis_report.h"

namespace instrument {

// Why a use case measured nothing, as a fact each shell phrases its own advice from.
enum class EProblem {
    None,
    Unreadable,       // the recording cannot be opened or is no sound file: m_strReason is the reader's
    Refused,          // the analysis refused the recording: m_eRefusal says why
    RecordingProblem, // live: the input recorded silence or clipped
    TooShort,         // live: the latency and the settling take all of the stimulus
};

// What AnalyseFile, AnalyseRecording and MeasureLive give back: the report, or why there is none.
// A measurement fact that leaves the figures standing (clipping, a clock offset, underruns) is a
// warning inside the report, never a problem here.
struct COutcome {
    std::optional<analysis::CAnalysisReport> m_report; // absent exactly when m_eProblem is set
    EProblem m_eProblem = EProblem::None;
    analysis::ERefusal m_eRefusal = analysis::ERefusal::None; // with Refused
    int m_nChannels = 0;      // the recording's channel count, where it could be opened
    std::string m_strSubject; // what was measured: the recording's path, or "the measured recording"
    std::string m_strReason;  // one sentence without advice for any program's options
    // With Refused: the report the analysis refused, with its refusal set and no figure in it (what a
    // report in JSON shows of a refusal).
    std::optional<analysis::CAnalysisReport> m_refused;

    // The problem as every shell states it before its own advice: "SUBJECT: REASON" for a file that
    // cannot be read, "SUBJECT: cannot be analysed: REASON" for a refusal, REASON alone for a live
    // recording's problem. Empty when there is none.
    std::string Message() const;
};

} // namespace instrument
