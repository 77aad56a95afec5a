// vorlanx-gen: one generation from the command line, with the dialog program's core.
#include <csignal>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/console_feedback.h"
#include "cli/interrupt.h"
#include "cli/plan_report.h"
#include "generation/frame_render.h"
#include "generation/generate_job.h"
#include "generation/job_plan.h"

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
        std::cerr << "vorlanx-gen: " << line.m_strError
                  << "\nTry 'vorlanx-gen --help' for more information.\n";
        return 2;
    case CCommandLine::EAction::Generate:
        break;
    }
    try {
        if (line.m_bInfo) {
            const CJobPlan plan = MakeJobPlan(line.m_settings);
            std::optional<double> peak;
            if (!plan.m_strRefusal) {
                peak = WholeFilePeak(line.m_settings, plan, line.m_options);
            }
            std::cout << (line.m_bJson ? PlanJson(plan, peak) : PlanText(plan, peak));
            return plan.m_strRefusal ? 1 : 0;
        }
        InstallInterruptHandlers();
        CConsoleFeedback feedback(line.m_settings.m_nSampleRate, line.m_bQuiet, InterruptSignal());
        if (GenerateTestFile(line.m_settings, feedback, line.m_options)) {
            return 0;
        }
        if (InterruptSignal() != 0) {
            const std::string& name = line.m_settings.m_strFileName;
            std::cerr << "vorlanx-gen: interrupted; " << (name == "/dev/stdout" ? "standard output" : name)
                      << " left unchanged\n";
            return 128 + InterruptSignal();
        }
        return 1;
    } catch (const std::exception& error) {
        std::cerr << "vorlanx-gen: " << error.what() << '\n';
        return 1;
    }
}
