// vorlanx-gen: one generation from the command line, with the dialog program's core.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "generation/generate_job.h"

namespace {

// The job's messages go to standard error with their texts unchanged; there is no cursor.
class CConsoleFeedback : public CGenerationFeedback {
public:
    void BeginWait() override {}
    void EndWait() override {}
    void ShowMessage(const std::string& text, unsigned) override { std::cerr << text << '\n'; }
};

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const CCommandLine line = ParseCommandLine(arguments);
    switch (line.m_eAction) {
    case CCommandLine::EAction::Help:
        std::cout << UsageText();
        return 0;
    case CCommandLine::EAction::Version:
        std::cout << "vorlanx-gen " VORLANX_VERSION "\n";
        return 0;
    case CCommandLine::EAction::BadUsage:
        std::cerr << "vorlanx-gen: " << line.m_strError
                  << "\nTry 'vorlanx-gen --help' for more information.\n";
        return 2;
    case CCommandLine::EAction::Generate:
        break;
    }
    try {
        CConsoleFeedback feedback;
        return GenerateTestFile(line.m_settings, feedback, line.m_options) ? 0 : 1;
    } catch (const std::exception& error) {
        std::cerr << "vorlanx-gen: " << error.what() << '\n';
        return 1;
    }
}
