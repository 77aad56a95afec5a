#pragma once
// Reading what vorlanx-analyze --continuous --json prints: one JSON object per line.
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace test {

inline std::vector<nlohmann::json> JsonLines(const std::string& text) {
    std::vector<nlohmann::json> objects;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        objects.push_back(nlohmann::json::parse(line));
    }
    return objects;
}

} // namespace test
