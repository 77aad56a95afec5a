#pragma once

#include <functional>
#include <string>

#include "analysis/analyzer.h"
#include "audio/audio_session.h"
#include "generation/settings.h"
#include "instrument/outcome.h"
#include "platform/output_file.h"
#include "platform/progress.h"

namespace instrument {

// Which devices a live measurement plays on and records from, by the names CAudioSystem lists (an
// empty name is the default device), and where its recording is kept.
struct CLiveDevices {
    std::string m_strOutput;
    std::string m_strInput;
    std::string m_strSaveRecording; // empty: a temporary file, removed afterwards
};

// The live recording could not be written: what() names it ("The recording PATH could not be
// written: REASON").
class CRecordingNotWritten : public platform::CFileException {
public:
    using platform::CFileException::CFileException;
};

// A live measurement's outcome: the analysis's, and how the session went.
struct CLiveOutcome : COutcome {
    audio::CSessionReport m_session;
    std::string m_strOutputName; // the devices as found
    std::string m_strInputName;
};

// Plays the stimulus of `settings` on the output and records the input (audio::RecordResponse),
// then analyses the recording as AnalyseFile does: from the stimulus's start found in it plus
// `options.m_dSkipS` to its end (for at most `options.m_dLengthS`), with `options`' channels, whatever
// the round-trip latency, which the report gives (m_nLatencyFrames); where no start is found, from the
// stream's own latency. A stimulus no longer than the skip is EProblem::TooShort before anything is
// played; a silent, clipping or NaN input EProblem::RecordingProblem; a recording the analysis refuses
// EProblem::Refused; underruns are a warning in the report. The subject is the saved recording's path,
// or "the measured recording". `progress` (may be null) sees the frames recorded, then the analysis's
// frames; `analysing` (may be empty) is called once between the two. Throws audio::CAudioError when a
// device cannot be found, opened or kept running, CRecordingNotWritten when the recording cannot be
// written, a platform::CCancelled when `progress` cancels, and what AnalyseFile throws. Any thread;
// one measurement at a time per device.
CLiveOutcome MeasureLive(const CGenerationSettings& settings, const CLiveDevices& devices,
                         const analysis::CAnalysisOptions& options, platform::CProgress* progress,
                         const std::function<void()>& analysing = {});

} // namespace instrument
