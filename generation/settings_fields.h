#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "generation/settings.h"

// The settings as every program names, documents and checks them: the command-line options of
// vorlanx-gen and vorlanx-analyze ("--" + name), the Python keywords (the name with '_' for '-'),
// and the ranges the dialog enforces: the nine numbers of the signal, then how it is stored (sample
// format, container, fades). The file name is each program's own business.
struct CSettingsField {
    enum class EKind { Double, SampleRate, Format, Container };

    const char* m_szName;  // "duration"
    const char* m_szValue; // the value's placeholder in usage texts: "SEC"
    const char* m_szHelp;  // what it means, without the default: "fundamental frequency f0"
    EKind m_eKind;
    double CGenerationSettings::*m_pDouble; // the field, for EKind::Double
    bool m_bRanged;                         // an inclusive range applies
    double m_dMin, m_dMax;
    const char* m_szUnit; // for messages: "seconds", "Hz", or "" when the value has none
    // The dialog's words: what "Please enter a number for ..." names ("the duration in seconds"),
    // and what its range message names ("a duration"); null for the fields it has no box for.
    const char* m_szDialogName;
    const char* m_szDialogWhat;

    // "--duration".
    std::string OptionName() const { return std::string("--") + m_szName; }
    // The value in `settings` as its option would take it ("30", "0.95").
    std::string ValueText(const CGenerationSettings& settings) const;
    // "0 to 1000000": the range as people read it; empty without a range.
    std::string RangeText() const;
    // The range's ends as the dialog shows them: "0", and "1000000 seconds" (with the unit).
    std::string LowText() const;
    std::string HighText() const;
    // True when `value` lies in the field's range, or the field has none.
    bool InRange(double value) const { return !m_bRanged || (value >= m_dMin && value <= m_dMax); }
};

// The fields, in the order of the settings record after its file name.
const std::vector<CSettingsField>& SettingsFields();
// The first nine: the signal's own, which describe a stimulus to the analyser.
inline constexpr std::size_t kSignalFields = 9;

// The field named `name` (as in "duration" or "sample_rate"), or null.
const CSettingsField* FindSettingsField(std::string_view name);

// Parses `text` as `field`'s value (the whole text, a decimal point in every locale) and stores it
// in `settings` when it is a number in the field's range. Returns nullopt when stored, otherwise why
// not, as a phrase that follows the option's name: "expects a number, not 'x'",
// "must be between 0 and 1, not 2". Nothing is stored on failure.
std::optional<std::string> ApplySettingsField(const CSettingsField& field, std::string_view text,
                                              CGenerationSettings& settings);

// Checks every field of `settings` against its range, in table order; the first failure as
// "duration must be between 0 and 1000000, not -1", or nullopt. For callers that set the record
// directly (the Python module) rather than through text.
std::optional<std::string> CheckSettingsRanges(const CGenerationSettings& settings);
