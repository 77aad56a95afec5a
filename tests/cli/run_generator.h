#pragma once
// Runs the programs through the shell and collects their exit status and output.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "tests/support/test_support.h"

namespace test {

struct CRun {
    int m_nStatus = -1;
    std::string m_strOut;
    std::string m_strErr;
};

inline std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

inline std::string Slurp(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs `program` with `arguments`, standard input from /dev/null, after `env` (assignments or a
// command prefix such as setpriv).
inline CRun RunProgram(const char* program, const test::CTempDir& dir,
                       const std::vector<std::string>& arguments, const char* env = "") {
    std::string command = std::string(env) + " " + Quote(program);
    for (const std::string& argument : arguments) {
        command += ' ';
        command += Quote(argument); // appended separately: GCC 12 warns falsely on "x" + std::string&&
    }
    command +=
        " >" + Quote((dir / "stdout").string()) + " 2>" + Quote((dir / "stderr").string()) + " </dev/null";
    CRun run;
    const int raw = std::system(command.c_str());
    run.m_nStatus = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.m_strOut = Slurp(dir / "stdout");
    run.m_strErr = Slurp(dir / "stderr");
    return run;
}

inline CRun RunGenerator(const test::CTempDir& dir, const std::vector<std::string>& arguments,
                         const char* env = "") {
    return RunProgram(VORLANX_GEN_PATH, dir, arguments, env);
}

// The options (words starting with '-') that `help` lists and the man page `page` (troff) lacks.
inline std::vector<std::string> OptionsMissingFromManPage(const std::string& help, const std::string& page,
                                                          std::size_t& listed) {
    std::vector<std::string> missing;
    listed = 0;
    for (std::size_t at = help.find(" -"); at != std::string::npos; at = help.find(" -", at + 1)) {
        std::size_t end = at + 1;
        while (end < help.size() &&
               (std::isalnum(static_cast<unsigned char>(help[end])) || help[end] == '-')) {
            ++end;
        }
        std::string option = help.substr(at + 1, end - at - 1);
        if (option.size() < 2 || option == "-") {
            continue;
        }
        ++listed;
        std::string escaped; // troff writes a hyphen-minus as \-
        for (char c : option) {
            escaped += c == '-' ? std::string("\\-") : std::string(1, c);
        }
        if (page.find(escaped) == std::string::npos) {
            missing.push_back(option);
        }
    }
    return missing;
}

} // namespace test
