#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "generation/settings.h"

// The command-line grammar both programs share: "--name VALUE", "--name=VALUE", "-x VALUE", flags,
// "--" before arguments that start with '-', and the nine signal options from the settings table.
struct COption {
    std::string m_strName;  // "--output"
    std::string m_strShort; // "-o", or empty
    bool m_bTakesValue;
    // Stores the value (an empty string for a flag); returns nullopt, or what is wrong as a phrase
    // that follows the option's name ("expects a number, not 'x'").
    std::function<std::optional<std::string>(const std::string& value)> m_apply;
    bool m_bEndsParsing = false; // --help, --version: nothing after it is read
};

// Applies `arguments` in order. Arguments that are not options go to `positional` (an error when it
// is null). Returns nullopt, or one line naming the option or argument and what is wrong with it.
std::optional<std::string> ParseOptions(const std::vector<std::string>& arguments,
                                        const std::vector<COption>& options,
                                        std::vector<std::string>* positional);

// Appends the options of the settings table, storing into `settings` (which must outlive the
// options): all of them, or the nine of the signal alone (`signalOnly`).
void AddSettingsOptions(std::vector<COption>& options, CGenerationSettings& settings,
                        bool signalOnly = false);

// The usage lines of those options, with the defaults of `defaults`.
std::string SettingsUsage(const CGenerationSettings& defaults, bool signalOnly = false);

// One usage line: "  -o, --output FILE", padded to the help column, then `help`.
std::string UsageLine(const std::string& names, const std::string& help);
