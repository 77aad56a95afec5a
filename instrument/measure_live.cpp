#include "instrument/measure_live.h"

#include <cmath>
#include <optional>

#include "audio/audio_system.h"
#include "instrument/analyse_file.h"
#include "platform/number_text.h"
#include "platform/output_file.h"
#include "platform/temporary_file.h"

namespace instrument {

namespace {

// A session's progress when the caller gave none: it never cancels.
platform::CProgress s_silent;

} // namespace

CLiveOutcome MeasureLive(const CGenerationSettings& settings, const CLiveDevices& devices,
                         const analysis::CAnalysisOptions& options, platform::CProgress* progress,
                         const std::function<void()>& analysing) {
    const audio::CAudioSystem system;
    const audio::CDeviceInfo& output = system.Find(devices.m_strOutput, audio::EDirection::Output);
    const audio::CDeviceInfo& input = system.Find(devices.m_strInput, audio::EDirection::Input);
    std::optional<platform::CTemporaryFile> temporary; // a recording removed afterwards
    if (devices.m_strSaveRecording.empty()) {
        temporary.emplace("vorlanx-recording-", ".wav");
    }
    const std::string path = temporary ? temporary->Path() : devices.m_strSaveRecording;

    CLiveOutcome outcome;
    if (!(settings.m_dDuration > options.m_dSkipS)) { // nothing to play that could be measured
        outcome.m_eProblem = EProblem::TooShort;
        outcome.m_strReason = "The stimulus is too short to measure: the settling takes all of its " +
                              platform::FormatGeneral15(settings.m_dDuration) + " s.";
        return outcome;
    }
    outcome.m_strOutputName = output.m_strName;
    outcome.m_strInputName = input.m_strName;
    outcome.m_strSubject = temporary ? "the measured recording" : path;
    try {
        outcome.m_session =
            audio::RecordResponse(system, output, input, settings, path, progress ? *progress : s_silent);
    } catch (const platform::CFileException& error) {
        throw CRecordingNotWritten("The recording " + path + " could not be written: " + error.what(),
                                   error.Error());
    }
    if (outcome.m_session.m_bCancelled) {
        throw platform::CCancelled("the measurement was cancelled");
    }
    if (const std::optional<std::string> problem = audio::RecordingProblem(outcome.m_session, input)) {
        outcome.m_eProblem = EProblem::RecordingProblem;
        outcome.m_strReason = *problem;
        return outcome;
    }
    // The stimulus is found in the recording: the analysis starts the skip from its start, whatever
    // the round-trip latency, and the latency is where it starts. Where it is not found, the stream's
    // own latency says where the answer begins.
    if (analysing) {
        analysing();
    }
    static_cast<COutcome&>(outcome) = AnalyseFile(settings, path, options, progress, true);
    if (outcome.m_report && !outcome.m_report->m_dOnsetS) {
        if (const auto span = audio::AnswerSpan(outcome.m_session, settings.m_dDuration, options.m_dSkipS,
                                                options.m_dLengthS)) {
            analysis::CAnalysisOptions spanned = options;
            spanned.m_bFindStimulus = false;
            spanned.m_dSkipS = span->m_dSkipS;
            spanned.m_dLengthS = span->m_dLengthS;
            static_cast<COutcome&>(outcome) = AnalyseFile(settings, path, spanned, progress, true);
        }
    }
    outcome.m_strSubject = temporary ? "the measured recording" : path;
    if (outcome.m_report) {
        outcome.m_report->m_strRecording = temporary ? "measured live" : path;
        if (outcome.m_report->m_dOnsetS) {
            outcome.m_report->m_nLatencyFrames = static_cast<std::uint64_t>(
                std::llround(*outcome.m_report->m_dOnsetS * outcome.m_report->m_dSampleRateHz));
        }
        if (outcome.m_session.m_nUnderruns > 0) {
            outcome.m_report->m_aWarnings.push_back(
                std::to_string(outcome.m_session.m_nUnderruns) + " underrun(s) on '" + output.m_strName +
                "': it played silence where the stimulus was late, which the figures may show.");
        }
    }
    return outcome;
}

} // namespace instrument
