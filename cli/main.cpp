// vorlanx-gen: one generation from the command line, with the dialog program's core.
#include <cmath>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "audio/audio_error.h"
#include "audio/audio_session.h"
#include "audio/audio_system.h"
#include "cli/command_line.h"
#include "cli/console_feedback.h"
#include "cli/console_progress.h"
#include "cli/interrupt.h"
#include "generation/frame_render.h"
#include "generation/generate_job.h"
#include "generation/job_plan.h"
#include "generation/plan_report.h"

namespace {

constexpr const char* kProgram = "vorlanx-gen";

// The status of a program ended by SIGPIPE, as the standard tools in a pipeline give it when their
// reader stops reading.
constexpr int kReaderGoneStatus = 128 + 13;

// What an interruption leaves behind, in one line: a file is left as it was; a stream keeps what it
// was sent, and is incomplete.
std::string InterruptedText(const std::string& path, const CJobOutcome& outcome) {
    const std::string name = path == "/dev/stdout" ? "standard output" : path;
    if (!outcome.m_bStream) {
        return "interrupted; " + name + " left unchanged";
    }
    if (outcome.m_nBytesSent == 0) {
        return "interrupted; nothing was written to " + name;
    }
    return "interrupted after " + std::to_string(outcome.m_nBytesSent) + " of " +
           std::to_string(outcome.m_nBytes) + " bytes; " + name + " is incomplete";
}

int PrintPlan(const CCommandLine& line) {
    const CJobPlan plan = MakeJobPlan(line.m_settings);
    std::optional<double> peak;
    if (!plan.m_strRefusal) {
        // The exact peak takes a whole rendering: a progress line on a terminal, and Ctrl-C stops it.
        CConsoleFeedback feedback(kProgram, line.m_settings.m_nSampleRate, line.m_bQuiet, InterruptSignal());
        feedback.BeginWait();
        try {
            peak = WholeFilePeak(line.m_settings, plan, line.m_options, &feedback);
        } catch (const CRenderCancelled&) {
            feedback.EndWait();
            std::cerr << kProgram << ": interrupted; no plan printed\n";
            return 128 + InterruptSignal();
        }
        feedback.EndWait();
    }
    std::cout << (line.m_bJson ? PlanJson(plan, peak) : PlanText(plan, peak));
    return plan.m_strRefusal ? 1 : 0;
}

// Plays the signal on the chosen device until its end (or, looping, until Ctrl-C).
int Play(const CCommandLine& line) {
    const audio::CAudioSystem system;
    const audio::CDeviceInfo& device = system.Find(line.m_strDevice, audio::EDirection::Output);
    audio::CSessionReport report;
    {
        const audio::CQuietStandardError quiet;
        CConsoleProgress feedback(kProgram, line.m_settings.m_nSampleRate, line.m_bQuiet,
                                  quiet.SavedDescriptor());
        report = audio::PlayStimulus(system, device, line.m_settings, line.m_bLoop, feedback);
    }
    const double seconds =
        static_cast<double>(report.m_nFramesPlayed) / std::max(1.0, double(line.m_settings.m_nSampleRate));
    char played[64];
    std::snprintf(played, sizeof played, "%.1f", seconds);
    if (report.m_nUnderruns > 0) {
        std::cerr << kProgram << ": Warning! " << report.m_nUnderruns << " underrun(s) on '"
                  << device.m_strName << "': it played silence where the signal was not there in time\n";
    }
    if (report.m_bCancelled) {
        std::cerr << kProgram << ": interrupted; played " << played << " s on '" << device.m_strName << "'\n";
        return 128 + InterruptSignal();
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const CCommandLine line = ParseCommandLine(arguments);
    switch (line.m_eAction) {
    case CCommandLine::EAction::Help:
        std::cout << UsageText();
        return 0;
    case CCommandLine::EAction::Version:
        std::cout << "vorlanx-gen " VORLANX_VERSION "\n"
                     "Copyright (C) 2026 Vorlanx\n"
                     "License MIT: <https://opensource.org/licenses/MIT>.\n"
                     "This is free software: you are free to change and redistribute it.\n"
                     "There is NO WARRANTY, to the extent permitted by law.\n";
        return 0;
    case CCommandLine::EAction::BadUsage:
        std::cerr << kProgram << ": " << line.m_strError
                  << "\nTry 'vorlanx-gen --help' for more information.\n";
        return 2;
    case CCommandLine::EAction::Generate:
        break;
    }
    InstallInterruptHandlers();
    try {
        if (line.m_bInfo) {
            return PrintPlan(line);
        }
        if (line.m_bListDevices) {
            std::cout << audio::CAudioSystem([] { return InterruptSignal() == 0; }).ListText();
            return 0;
        }
        if (line.m_bPlay) {
            return Play(line);
        }
        CConsoleFeedback feedback(kProgram, line.m_settings.m_nSampleRate, line.m_bQuiet, InterruptSignal());
        CJobOutcome outcome;
        if (GenerateTestFile(line.m_settings, feedback, line.m_options, &outcome)) {
            return 0;
        }
        switch (outcome.m_eEnd) {
        case CJobOutcome::EEnd::Cancelled:
            std::cerr << kProgram << ": " << InterruptedText(line.m_settings.m_strFileName, outcome) << '\n';
            return 128 + InterruptSignal();
        case CJobOutcome::EEnd::ReaderGone:
            return kReaderGoneStatus;
        default:
            return 1;
        }
    } catch (const std::exception& error) {
        if (InterruptSignal() != 0) {
            std::cerr << kProgram << ": interrupted\n";
            return 128 + InterruptSignal();
        }
        std::cerr << kProgram << ": " << error.what() << '\n';
        return 1;
    }
}
