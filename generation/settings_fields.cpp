#include "generation/settings_fields.h"

#include <cmath>

#include "generation/file_formats.h"
#include "platform/number_text.h"

namespace {

using S = CGenerationSettings;
using K = CSettingsField::EKind;

std::string Between(const CSettingsField& field) {
    return "between " + platform::FormatGeneral15(field.m_dMin) + " and " +
           platform::FormatGeneral15(field.m_dMax);
}

} // namespace

const std::vector<CSettingsField>& SettingsFields() {
    static const std::vector<CSettingsField> fields = {
        {"duration", "SEC", "length of the file in seconds", K::Double, &S::m_dDuration, true, kMinDuration,
         kMaxDuration, "seconds", "the duration in seconds", "a duration"},
        {"sample-rate", "HZ", "whole number of frames per second", K::SampleRate, nullptr, true,
         static_cast<double>(kMinSampleRate), static_cast<double>(kMaxSampleRate), "Hz",
         "the sample rate in Hz", "a sample rate"},
        {"fundamental", "HZ", "fundamental frequency f0", K::Double, &S::m_dFundamentalFreq, false, 0, 0,
         "Hz", "the fundamental frequency in Hz", nullptr},
        {"mother-amplitude", "A", "harmonic n gets A/n; 1 = full scale", K::Double, &S::m_dMotherAmplitude,
         false, 0, 0, "", "the mother signal's amplitude", nullptr},
        {"carrier1", "HZ", "carrier of the first daughter", K::Double, &S::m_dCarrierFreq1, false, 0, 0, "Hz",
         "the first carrier frequency in Hz", nullptr},
        {"daughter-amplitude1", "A", "level of the first daughter", K::Double, &S::m_dDaughterAmplitude1,
         false, 0, 0, "", "the first daughter's amplitude", nullptr},
        {"carrier2", "HZ", "carrier of the second daughter", K::Double, &S::m_dCarrierFreq2, false, 0, 0,
         "Hz", "the second carrier frequency in Hz", nullptr},
        {"daughter-amplitude2", "A", "level of the second daughter", K::Double, &S::m_dDaughterAmplitude2,
         false, 0, 0, "", "the second daughter's amplitude", nullptr},
        {"nyquist-factor", "F", "band limit as a fraction of half the rate", K::Double, &S::m_dNyquistFactor,
         true, kMinNyquistFactor, kMaxNyquistFactor, "", "the Nyquist factor", "a Nyquist factor"},
        {"format", "s16|s24|f32", "samples: 16-bit, 24-bit or 32-bit float", K::Format, nullptr, false, 0, 0,
         "", nullptr, nullptr},
        {"container", "auto|wav|rf64|flac", "file: by the name's ending (.flac), or as given", K::Container,
         nullptr, false, 0, 0, "", nullptr, nullptr},
        {"fade-in", "SEC", "raised-cosine fade-in at the start", K::Double, &S::m_dFadeInS, true, kMinFadeS,
         kMaxFadeS, "seconds", "the fade-in in seconds", "a fade-in"},
        {"fade-out", "SEC", "raised-cosine fade-out at the end", K::Double, &S::m_dFadeOutS, true, kMinFadeS,
         kMaxFadeS, "seconds", "the fade-out in seconds", "a fade-out"},
    };
    return fields;
}

const CSettingsField* FindSettingsField(std::string_view name) {
    for (const CSettingsField& field : SettingsFields()) {
        std::string spelled = field.m_szName;
        std::string keyword = spelled;
        for (char& c : keyword) {
            c = c == '-' ? '_' : c;
        }
        if (name == spelled || name == keyword) {
            return &field;
        }
    }
    return nullptr;
}

std::string CSettingsField::ValueText(const CGenerationSettings& settings) const {
    switch (m_eKind) {
    case K::SampleRate:
        return std::to_string(settings.m_nSampleRate);
    case K::Format:
        return FormatName(settings.m_eFormat);
    case K::Container:
        return ContainerName(settings.m_eContainer);
    case K::Double:
        break;
    }
    return platform::FormatGeneral15(settings.*m_pDouble);
}

std::string CSettingsField::RangeText() const {
    return m_bRanged ? platform::FormatGeneral15(m_dMin) + " to " + platform::FormatGeneral15(m_dMax) : "";
}

std::string CSettingsField::LowText() const {
    return platform::FormatGeneral15(m_dMin);
}

std::string CSettingsField::HighText() const {
    return platform::FormatGeneral15(m_dMax) +
           (*m_szUnit != '\0' ? std::string(" ") + m_szUnit : std::string());
}

std::optional<std::string> ApplySettingsField(const CSettingsField& field, std::string_view text,
                                              CGenerationSettings& settings) {
    std::string quoted = "'"; // appended, not "'" + std::string: GCC 12 warns falsely on that
    quoted += text;
    quoted += '\'';
    // A name from the formats table: the row whose name it is, or a message.
    const auto choose = [&](const auto& rows, auto& into, auto value) -> std::optional<std::string> {
        for (const auto& row : rows) {
            if (text == row.m_szName) {
                into = row.*value;
                return std::nullopt;
            }
        }
        return std::string("must be one of ") + field.m_szValue + ", not " + quoted;
    };
    if (field.m_eKind == K::Format) {
        return choose(SampleFormatRows(), settings.m_eFormat, &CSampleFormatRow::m_eFormat);
    }
    if (field.m_eKind == K::Container) {
        return choose(ContainerRows(), settings.m_eContainer, &CContainerRow::m_eContainer);
    }
    if (field.m_eKind == K::SampleRate) {
        const auto value = platform::ParseUnsigned32(text);
        if (!value || *value < field.m_dMin || *value > field.m_dMax) {
            return "must be a whole number " + Between(field) + ", not " + quoted;
        }
        settings.m_nSampleRate = *value;
        return std::nullopt;
    }
    const auto value = platform::ParseDouble(text);
    if (!value) {
        return "expects a number, not " + quoted +
               (platform::HasDecimalComma(text) ? " (use a decimal point, not a comma)" : "");
    }
    if (field.m_bRanged && (*value < field.m_dMin || *value > field.m_dMax)) {
        return "must be " + Between(field) + ", not " + std::string(text);
    }
    settings.*field.m_pDouble = *value;
    return std::nullopt;
}

std::optional<std::string> CheckSettingsRanges(const CGenerationSettings& settings) {
    for (const CSettingsField& field : SettingsFields()) {
        if (!field.m_bRanged) {
            continue;
        }
        const double value = field.m_eKind == K::SampleRate ? static_cast<double>(settings.m_nSampleRate)
                                                            : settings.*field.m_pDouble;
        if (field.m_bRanged && !(value >= field.m_dMin && value <= field.m_dMax)) {
            return std::string(field.m_szName) + " must be " + Between(field) + ", not " +
                   platform::FormatGeneral15(value);
        }
    }
    return std::nullopt;
}
