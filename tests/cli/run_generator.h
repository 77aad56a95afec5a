#pragma once
// Runs the vorlanx-gen executable through the shell and collects its exit status and output.
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

inline CRun RunGenerator(const test::CTempDir& dir, const std::vector<std::string>& arguments,
                         const char* env = "") {
    std::string command = std::string(env) + " " + Quote(VORLANX_GEN_PATH);
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

} // namespace test
