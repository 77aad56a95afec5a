// vorlanx-analyze: measures a recording of the stimulus with the analysis core.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "analysis/analysis_plan.h"
#include "analysis/analyzer.h"
#include "analysis/file_recording.h"
#include "analysis/report_formats.h"
#include "audio/audio_error.h"
#include "audio/audio_session.h"
#include "audio/audio_system.h"
#include "cli/analyze_command_line.h"
#include "cli/console_audio_feedback.h"
#include "cli/console_feedback.h"
#include "cli/interrupt.h"
#include "generation/job_plan.h"
#include "platform/number_text.h"
#include "platform/output_file.h"
#include "platform/temporary_file.h"

namespace {

// The terminal's progress line for an analysis: two passes over the recording shown as one, in
// seconds of the recording.
class CAnalysisConsoleFeedback : public analysis::CAnalysisFeedback {
public:
    CAnalysisConsoleFeedback(double sampleRate, bool quiet)
        : m_console("vorlanx-analyze", sampleRate, quiet, InterruptSignal()) {
        m_console.BeginWait();
    }
    ~CAnalysisConsoleFeedback() override { m_console.EndWait(); }
    void ReportProgress(std::uint64_t done, std::uint64_t total) override {
        m_console.ReportProgress(done / 2, total / 2);
    }
    bool CancelRequested() override { return m_console.CancelRequested(); }

private:
    CConsoleFeedback m_console;
};

// Writing the report to a FIFO waits for its reader until Ctrl-C.
class CInterruptibleWait : public platform::COpenWait {
public:
    void Waiting(const std::string&) override {}
    bool KeepWaiting() override { return InterruptSignal() == 0; }
};

int Fail(const std::string& message) {
    std::cerr << "vorlanx-analyze: " << message << '\n';
    return 1;
}

// Plays the stimulus and records the answer into `path`. Returns nullopt when the recording is
// there to analyse, otherwise the exit status (after saying why).
std::optional<int> Measure(const CAnalyzeCommandLine& line, const std::string& path,
                           audio::CSessionReport& report) {
    const audio::CAudioSystem system;
    const audio::CDeviceInfo& output = system.Find(line.m_strOutputDevice, audio::EDirection::Output);
    const audio::CDeviceInfo& input = system.Find(line.m_strInputDevice, audio::EDirection::Input);
    std::string unwritten; // said once standard error is back
    {
        const audio::CQuietStandardError quiet;
        CConsoleAudioFeedback feedback("vorlanx-analyze", line.m_settings.m_nSampleRate, line.m_bQuiet,
                                       quiet.SavedDescriptor());
        try {
            report = audio::RecordResponse(system, output, input, line.m_settings, path, feedback);
        } catch (const platform::CFileException& error) {
            unwritten = error.what();
        }
    }
    if (!unwritten.empty()) {
        return Fail("The recording " + path + " could not be written: " + unwritten);
    }
    if (report.m_bCancelled) {
        std::cerr << "vorlanx-analyze: interrupted; nothing was measured\n";
        return 128 + InterruptSignal();
    }
    if (report.m_nUnderruns > 0) {
        std::cerr << "vorlanx-analyze: warning: " << report.m_nUnderruns << " underrun(s) on '"
                  << output.m_strName
                  << "': it played silence where the stimulus was late, which the figures may show\n";
    }
    if (const std::optional<std::string> problem = audio::RecordingProblem(report, input)) {
        return Fail(*problem);
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const CAnalyzeCommandLine line = ParseAnalyzeCommandLine(arguments);
    using A = CAnalyzeCommandLine::EAction;
    switch (line.m_eAction) {
    case A::Help:
        std::cout << AnalyzeUsageText();
        return 0;
    case A::Version:
        std::cout << "vorlanx-analyze " VORLANX_VERSION "\n"
                     "Copyright (C) 2026 Vorlanx\n"
                     "License MIT: <https://opensource.org/licenses/MIT>.\n"
                     "This is free software: you are free to change and redistribute it.\n"
                     "There is NO WARRANTY, to the extent permitted by law.\n";
        return 0;
    case A::BadUsage:
        std::cerr << "vorlanx-analyze: " << line.m_strError
                  << "\nTry 'vorlanx-analyze --help' for more information.\n";
        return 2;
    case A::Analyze:
        break;
    }
    InstallInterruptHandlers();
    try {
        if (line.m_bListDevices) {
            std::cout << audio::CAudioSystem().ListText();
            return 0;
        }
        std::string recordingPath = line.m_strRecording;
        std::optional<platform::CTemporaryFile> temporary; // a recording removed afterwards
        analysis::CAnalysisOptions options = line.m_options;
        if (line.m_bMeasure) {
            if (line.m_strSaveRecording.empty()) {
                temporary.emplace("vorlanx-recording-", ".wav");
            }
            recordingPath = temporary ? temporary->Path() : line.m_strSaveRecording;
            audio::CSessionReport session;
            if (const std::optional<int> status = Measure(line, recordingPath, session)) {
                return *status;
            }
            const std::optional<audio::CAnswerSpan> span = audio::AnswerSpan(
                session, line.m_settings.m_dDuration, line.m_options.m_dSkipS, line.m_options.m_dLengthS);
            if (!span) {
                return Fail(
                    "The stimulus is too short to measure: the settling and the latency take all of its " +
                    platform::FormatGeneral15(line.m_settings.m_dDuration) + " s.");
            }
            options.m_dSkipS = span->m_dSkipS;
            options.m_dLengthS = span->m_dLengthS;
        }
        std::string error;
        const std::unique_ptr<analysis::CFileRecording> recording =
            analysis::CFileRecording::Open(recordingPath, error);
        if (!recording) {
            return Fail(recordingPath + ": " + error);
        }
        CGenerationSettings settings = line.m_settings;
        settings.m_dDuration = 0.0; // the stimulus's length plays no part in its lines
        const analysis::CAnalysisPlan plan =
            analysis::MakeAnalysisPlan(MakeJobPlan(settings), recording->SampleRate());
        analysis::CAnalysisReport report;
        {
            CAnalysisConsoleFeedback feedback(recording->SampleRate(), line.m_bQuiet);
            report = analysis::AnalyzeRecording(plan, *recording, options, &feedback);
        }
        if (line.m_bMeasure && temporary) { // the temporary's name means nothing once it is gone
            report.m_strRecording = "measured live";
        }
        if (report.m_strRefusal) {
            return Fail((line.m_bMeasure ? std::string("the measured recording") : line.m_strRecording) +
                        ": cannot be analysed: " + *report.m_strRefusal);
        }
        using F = CAnalyzeCommandLine::EFormat;
        const std::string text = line.m_eFormat == F::Json  ? analysis::ReportJson(report)
                                 : line.m_eFormat == F::Csv ? analysis::ReportCsv(report)
                                                            : analysis::ReportText(report);
        if (line.m_eFormat == F::Csv) { // a CSV has no place for them
            for (const std::string& warning : report.m_aWarnings) {
                std::cerr << "vorlanx-analyze: warning: " << warning << '\n';
            }
        }
        if (line.m_strOutput.empty()) {
            std::cout << text << std::flush;
            return std::cout ? 0 : Fail("standard output: the report could not be written");
        }
        platform::COutputFile file;
        CInterruptibleWait wait;
        if (!file.Open(line.m_strOutput, &wait)) {
            if (file.Cancelled()) {
                std::cerr << "vorlanx-analyze: interrupted; nothing was written to " << line.m_strOutput
                          << '\n';
                return 128 + InterruptSignal();
            }
            return Fail(line.m_strOutput + ": " + file.OpenError());
        }
        file.Write(text.data(), text.size());
        file.Commit();
        return 0;
    } catch (const analysis::CAnalysisCancelled&) {
        std::cerr << "vorlanx-analyze: interrupted\n";
        return 128 + InterruptSignal();
    } catch (const platform::CFileException& error) {
        return Fail(line.m_strOutput + ": " + error.what());
    } catch (const std::exception& error) {
        return Fail(error.what());
    }
}
