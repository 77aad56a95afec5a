// vorlanx-analyze: measures a recording of the stimulus with the analysis core.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "analysis/report_formats.h"
#include "audio/audio_system.h"
#include "cli/analyze_command_line.h"
#include "cli/console_progress.h"
#include "cli/interrupt.h"
#include "instrument/analyse_file.h"
#include "instrument/continuous_formats.h"
#include "instrument/html_report.h"
#include "instrument/limits.h"
#include "instrument/measure_live.h"
#include "instrument/sweep.h"
#include "platform/output_file.h"

namespace {

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

// The outcome's problem with this program's advice: the options that fix it.
std::string Advice(const instrument::COutcome& outcome) {
    std::string message = outcome.Message();
    if (outcome.m_eRefusal == analysis::ERefusal::ChannelsToChoose) {
        message += " with --left N and --right N";
    } else if (outcome.m_eRefusal == analysis::ERefusal::Swapped) {
        message += ": --left 2 --right 1 measures them the other way round";
    }
    return message;
}

// Plays the stimulus, records the answer and analyses it; CQuietStandardError keeps the audio
// libraries' chatter off the terminal meanwhile.
instrument::CLiveOutcome Measure(const CAnalyzeCommandLine& line) {
    const audio::CQuietStandardError quiet;
    CConsoleProgress progress("vorlanx-analyze", line.m_settings.m_nSampleRate, line.m_bQuiet,
                              quiet.SavedDescriptor());
    return instrument::MeasureLive(line.m_settings,
                                   {line.m_strOutputDevice, line.m_strInputDevice, line.m_strSaveRecording},
                                   line.m_options, &progress, [&] { progress.SetPasses(2); });
}

// Measures again and again until --count or Ctrl-C: a line (or a JSON object) per update on standard
// output, as soon as it is measured. The status is the last update's: 0 measured, 1 not measured,
// 3 a limit failed; 128 + N for signal N.
int MeasureContinuously(const CAnalyzeCommandLine& line, const std::optional<instrument::CLimits>& limits) {
    const audio::CQuietStandardError quiet;
    CConsoleProgress progress("vorlanx-analyze", line.m_settings.m_nSampleRate, true,
                              quiet.SavedDescriptor());
    const instrument::CContinuousPlan plan = instrument::PlanContinuous(line.m_settings, line.m_continuous);
    int status = 0;
    bool failedWrite = false;
    const audio::CSessionReport session = instrument::MeasureContinuously(
        line.m_settings, {line.m_strOutputDevice, line.m_strInputDevice, ""}, line.m_options,
        line.m_continuous, &progress, [&](const instrument::CContinuousUpdate& update) {
            std::optional<instrument::CVerdict> verdict;
            if (limits && update.m_outcome.m_report) {
                verdict = instrument::Judge(*update.m_outcome.m_report, *limits);
            }
            const instrument::CVerdict* judged = verdict ? &*verdict : nullptr;
            std::cout << (line.m_eFormat == CAnalyzeCommandLine::EFormat::Json
                              ? instrument::ContinuousJson(update, plan.m_dBlockS, judged)
                              : instrument::ContinuousLine(update, line.m_continuous.m_nAverage,
                                                           line.m_dGainAtHz, judged))
                      << std::endl;
            status = !update.m_outcome.m_report ? 1 : (verdict && !verdict->m_bPass ? 3 : 0);
            failedWrite = !std::cout;
            return !failedWrite && InterruptSignal() == 0;
        });
    if (failedWrite) {
        return Fail("standard output: the updates could not be written");
    }
    if (session.m_bCancelled || InterruptSignal() != 0) {
        return 128 + (InterruptSignal() != 0 ? InterruptSignal() : SIGINT);
    }
    return status;
}

// Writes the JUnit verdict and the HTML page where asked, then `text` to -o's file or standard output;
// `status` unless a write fails.
int Deliver(const CAnalyzeCommandLine& line, const std::string& text, const std::optional<std::string>& xml,
            const std::optional<std::string>& html, int status) {
    if (xml) {
        platform::COutputFile junit;
        if (!junit.Open(line.m_strJunit)) {
            return Fail(line.m_strJunit + ": " + junit.OpenError());
        }
        junit.Write(xml->data(), xml->size());
        junit.Commit();
    }
    if (html) {
        platform::COutputFile page;
        if (!page.Open(line.m_strReport)) {
            return Fail(line.m_strReport + ": " + page.OpenError());
        }
        page.Write(html->data(), html->size());
        page.Commit();
    }
    if (line.m_strOutput.empty()) {
        // Written directly: a reader that went away (EPIPE) ends the program quietly, as the
        // tools of a pipeline do, with the status SIGPIPE would give.
        std::cout.flush();
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t wrote = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
            if (wrote < 0 && errno == EINTR) {
                continue;
            }
            if (wrote < 0) {
                return errno == EPIPE
                           ? 128 + SIGPIPE
                           : Fail(std::string("standard output: the report could not be written: ") +
                                  std::strerror(errno));
            }
            done += static_cast<std::size_t>(wrote);
        }
        return status;
    }
    platform::COutputFile file;
    CInterruptibleWait wait;
    if (!file.Open(line.m_strOutput, &wait)) {
        if (file.Cancelled()) {
            std::cerr << "vorlanx-analyze: interrupted; nothing was written to " << line.m_strOutput << '\n';
            return 128 + InterruptSignal();
        }
        return Fail(line.m_strOutput + ": " + file.OpenError());
    }
    file.Write(text.data(), text.size());
    file.Commit();
    return status;
}

// Measures each step of a sweep (live, or from the folder of recordings) and reports the sweep.
int Sweep(const CAnalyzeCommandLine& line, const instrument::CSweepSpec& spec,
          const std::optional<instrument::CLimits>& limits) {
    instrument::CSweepResult result;
    std::string devices;
    if (line.m_bMeasure) {
        const audio::CQuietStandardError quiet;
        CConsoleProgress progress("vorlanx-analyze", line.m_settings.m_nSampleRate, line.m_bQuiet,
                                  quiet.SavedDescriptor());
        result =
            instrument::SweepLive(line.m_settings, spec, {line.m_strOutputDevice, line.m_strInputDevice, ""},
                                  line.m_options, &progress);
        devices = result.m_strDevices;
    } else {
        CConsoleProgress progress("vorlanx-analyze", line.m_settings.m_nSampleRate, line.m_bQuiet);
        progress.SetPasses(2);
        result = instrument::SweepFolder(line.m_settings, spec, line.m_strRecording, line.m_options,
                                         &progress, line.m_bSampleRateGiven);
    }
    result.m_dGainAtHz = line.m_dGainAtHz;
    if (limits && limits->m_dSweepLimitDb) {
        result.m_dLimitDb = *limits->m_dSweepLimitDb;
    }
    instrument::SummariseSweep(result);
    std::optional<instrument::CVerdict> verdict;
    if (limits && !limits->m_aSweepBounds.empty()) {
        verdict = instrument::JudgeSweep(result, *limits);
    }
    using F = CAnalyzeCommandLine::EFormat;
    std::string text = line.m_eFormat == F::Json
                           ? instrument::SweepJson(result, verdict ? &*verdict : nullptr)
                       : line.m_eFormat == F::Csv ? instrument::SweepCsv(result)
                                                  : instrument::SweepText(result);
    if (line.m_eFormat == F::Text && verdict) {
        text += '\n';
        text += instrument::VerdictText(*verdict);
    }
    std::optional<std::string> xml, html;
    if (verdict && !line.m_strJunit.empty()) {
        xml = instrument::VerdictJunit(*verdict, "sweep");
    }
    if (!line.m_strReport.empty()) {
        html = instrument::SweepHtml(
            result, verdict ? &*verdict : nullptr, limits ? &*limits : nullptr,
            instrument::MakeReportContext(line.m_settings, "", devices, "vorlanx-analyze " VORLANX_VERSION));
    }
    const bool measured =
        std::any_of(result.m_aSteps.begin(), result.m_aSteps.end(),
                    [](const instrument::CSweepStep& step) { return step.m_outcome.m_report; });
    return Deliver(line, text, xml, html, !measured ? 1 : verdict && !verdict->m_bPass ? 3 : 0);
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
    // The limits are read before anything is measured: a file that does not parse is bad usage.
    std::optional<instrument::CLimits> limits;
    if (!line.m_strLimits.empty()) {
        struct stat status {};
        std::ifstream in(line.m_strLimits, std::ios::binary);
        if (!in || ::stat(line.m_strLimits.c_str(), &status) != 0 || S_ISDIR(status.st_mode)) {
            const int error = in && S_ISDIR(status.st_mode) ? EISDIR : errno;
            std::cerr << "vorlanx-analyze: " << line.m_strLimits << ": " << std::strerror(error) << '\n';
            return 2;
        }
        std::stringstream text;
        text << in.rdbuf();
        std::string error;
        limits = instrument::ParseLimits(text.str(), line.m_strLimits, error);
        if (!limits) {
            std::cerr << "vorlanx-analyze: " << line.m_strLimits << ": " << error
                      << "\nTry 'vorlanx-analyze --help' for more information.\n";
            return 2;
        }
    }
    // The report must not replace the recording it is about.
    if (!line.m_strOutput.empty() && !line.m_bMeasure) {
        struct stat recording {
        }, output{};
        if (::stat(line.m_strRecording.c_str(), &recording) == 0 &&
            ::stat(line.m_strOutput.c_str(), &output) == 0 && recording.st_dev == output.st_dev &&
            recording.st_ino == output.st_ino) {
            std::cerr << "vorlanx-analyze: -o " << line.m_strOutput
                      << " is the recording itself: the report would replace it; choose another file\n";
            return 2;
        }
    }
    try {
        if (line.m_dMakeLimitsK) { // known-good units: their reports into a limits file
            std::vector<analysis::CAnalysisReport> golden;
            for (const std::string& path : line.m_aGolden) {
                CConsoleProgress progress("vorlanx-analyze", line.m_settings.m_nSampleRate, line.m_bQuiet);
                progress.SetPasses(2);
                instrument::COutcome outcome = instrument::AnalyseFile(line.m_settings, path, line.m_options,
                                                                       &progress, line.m_bSampleRateGiven);
                if (!outcome.m_report) {
                    return Fail(Advice(outcome));
                }
                golden.push_back(std::move(*outcome.m_report));
            }
            const std::string text = instrument::MakeLimits(golden, *line.m_dMakeLimitsK);
            if (line.m_strOutput.empty()) {
                std::cout << text << std::flush;
                return std::cout ? 0 : Fail("standard output: the limits could not be written");
            }
            platform::COutputFile file;
            if (!file.Open(line.m_strOutput)) {
                return Fail(line.m_strOutput + ": " + file.OpenError());
            }
            file.Write(text.data(), text.size());
            file.Commit();
            return 0;
        }
        if (line.m_bListDevices) {
            std::cout << audio::CAudioSystem([] { return InterruptSignal() == 0; }).ListText();
            return 0;
        }
        if (line.m_bContinuous) {
            return MeasureContinuously(line, limits);
        }
        // A sweep: asked for, or a folder of recordings with a limits file that names one.
        struct stat folder {};
        if (line.m_sweep) {
            return Sweep(line, *line.m_sweep, limits);
        }
        if (limits && limits->m_sweep && !line.m_bMeasure &&
            ::stat(line.m_strRecording.c_str(), &folder) == 0 && S_ISDIR(folder.st_mode)) {
            return Sweep(line, *limits->m_sweep, limits);
        }
        instrument::COutcome outcome;
        std::string devices, session; // a live measurement's, as found
        if (line.m_bMeasure) {
            instrument::CLiveOutcome live = Measure(line);
            devices = "output " + live.m_strOutputName + ", input " + live.m_strInputName;
            session = instrument::SessionText(live.m_session.m_nUnderruns, live.m_session.m_nOverruns);
            outcome = std::move(live);
        } else {
            CConsoleProgress progress("vorlanx-analyze", line.m_settings.m_nSampleRate, line.m_bQuiet);
            progress.SetPasses(2);
            outcome = instrument::AnalyseFile(line.m_settings, line.m_strRecording, line.m_options, &progress,
                                              line.m_bSampleRateGiven);
        }
        if (!outcome.m_report) {
            // A refusal in JSON too, on standard output: the reason, and every figure null.
            if (line.m_eFormat == CAnalyzeCommandLine::EFormat::Json && line.m_strOutput.empty() &&
                outcome.m_refused) {
                std::cout << analysis::ReportJson(*outcome.m_refused) << std::flush;
            }
            return Fail(Advice(outcome));
        }
        outcome.m_report->m_fullScale = line.m_fullScale;
        const analysis::CAnalysisReport& report = *outcome.m_report;
        std::optional<instrument::CVerdict> verdict;
        if (limits) {
            verdict = instrument::Judge(report, *limits);
        }
        using F = CAnalyzeCommandLine::EFormat;
        std::string text = line.m_eFormat == F::Json
                               ? (verdict ? instrument::ReportJsonWithVerdict(report, *verdict)
                                          : analysis::ReportJson(report))
                           : line.m_eFormat == F::Csv ? analysis::ReportCsv(report)
                                                      : analysis::ReportText(report);
        if (line.m_eFormat == F::Text && verdict) {
            text += '\n'; // appended apart: GCC 12 warns falsely on "\n" + std::string&&
            text += instrument::VerdictText(*verdict);
        }
        if (line.m_eFormat == F::Csv) { // a CSV has no place for them
            for (const std::string& warning : report.m_aWarnings) {
                std::cerr << "vorlanx-analyze: warning: " << warning << '\n';
            }
            if (verdict) {
                std::cerr << instrument::VerdictText(*verdict);
            }
        }
        std::optional<std::string> xml, html;
        if (verdict && !line.m_strJunit.empty()) {
            xml = instrument::VerdictJunit(*verdict, report.m_strRecording);
        }
        if (!line.m_strReport.empty()) {
            instrument::CReportContext context = instrument::MakeReportContext(
                line.m_settings, line.m_bMeasure ? std::string() : line.m_strRecording, devices,
                "vorlanx-analyze " VORLANX_VERSION);
            context.m_strSession = session;
            html = instrument::ReportHtml(report, verdict ? &*verdict : nullptr, limits ? &*limits : nullptr,
                                          context);
        }
        return Deliver(line, text, xml, html, verdict && !verdict->m_bPass ? 3 : 0); // 3: a limit failed
    } catch (const platform::CCancelled&) {
        std::cerr << (line.m_bMeasure ? "vorlanx-analyze: interrupted; nothing was measured\n"
                                      : "vorlanx-analyze: interrupted\n");
        return 128 + InterruptSignal();
    } catch (const instrument::CRecordingNotWritten& error) {
        return Fail(error.what());
    } catch (const platform::CFileException& error) {
        return Fail(line.m_strOutput + ": " + error.what());
    } catch (const std::exception& error) {
        if (InterruptSignal() != 0) {
            std::cerr << "vorlanx-analyze: interrupted\n";
            return 128 + InterruptSignal();
        }
        return Fail(error.what());
    }
}
