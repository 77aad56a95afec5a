#include "cli/option_parser.h"

#include "generation/settings_fields.h"

std::optional<std::string> ParseOptions(const std::vector<std::string>& arguments,
                                        const std::vector<COption>& options,
                                        std::vector<std::string>* positional) {
    bool onlyArguments = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool looksLikeOption = argument.size() > 1 && argument.front() == '-';
        if (onlyArguments || !looksLikeOption) {
            if (positional == nullptr) {
                return "unexpected argument '" + argument + "'";
            }
            positional->push_back(argument);
            continue;
        }
        if (argument == "--") {
            onlyArguments = true;
            continue;
        }
        std::string name = argument;
        std::optional<std::string> value;
        if (const auto equals = argument.find('=');
            argument.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
        }
        const COption* option = nullptr;
        for (const COption& candidate : options) {
            if (name == candidate.m_strName ||
                (!candidate.m_strShort.empty() && name == candidate.m_strShort)) {
                option = &candidate;
            }
        }
        if (option == nullptr) {
            return "unknown option '" + name + "'";
        }
        if (!option->m_bTakesValue) {
            if (value) {
                return option->m_strName + " takes no value";
            }
            value = "";
        } else if (!value) {
            if (i + 1 >= arguments.size()) {
                return option->m_strName + " needs a value";
            }
            value = arguments[++i];
        }
        if (const auto error = option->m_apply(*value)) {
            return option->m_strName + " " + *error;
        }
        if (option->m_bEndsParsing) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

void AddSettingsOptions(std::vector<COption>& options, CGenerationSettings& settings, bool signalOnly) {
    const auto& fields = SettingsFields();
    for (std::size_t i = 0; i < (signalOnly ? kSignalFields : fields.size()); ++i) {
        const CSettingsField& field = fields[i];
        options.push_back({field.OptionName(), "", true, [&field, &settings](const std::string& text) {
                               return ApplySettingsField(field, text, settings);
                           }});
    }
}

std::string UsageLine(const std::string& names, const std::string& help) {
    constexpr std::size_t kHelpColumn = 32;
    std::string line = "  " + names;
    line += line.size() < kHelpColumn ? std::string(kHelpColumn - line.size(), ' ')
                                      : std::string("\n") + std::string(kHelpColumn, ' ');
    return line + help + "\n";
}

std::string SettingsUsage(const CGenerationSettings& defaults, bool signalOnly) {
    std::string text;
    const auto& fields = SettingsFields();
    for (std::size_t i = 0; i < (signalOnly ? kSignalFields : fields.size()); ++i) {
        const CSettingsField& field = fields[i];
        std::string help = field.m_szHelp;
        if (field.m_bRanged) {
            help += ", " + field.RangeText();
        }
        text += UsageLine("    " + field.OptionName() + " " + field.m_szValue,
                          help + " (default " + field.ValueText(defaults) + ")");
    }
    return text;
}
