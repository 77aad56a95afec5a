#include "cli/command_line.h"

#include <algorithm>
#include <functional>
#include <optional>

#include "generation/render/sine_kernels.h"
#include "platform/number_text.h"

namespace {

using platform::FormatGeneral15;

struct COption {
    const char* m_szName;
    const char* m_szShort; // nullptr when the option has no short form
    std::function<std::optional<std::string>(CCommandLine&, const std::string&)> m_apply;
};

// Stores a double option after checking it is a number and, where a range is given, inside it.
std::function<std::optional<std::string>(CCommandLine&, const std::string&)>
DoubleSetter(double CGenerationSettings::*field, std::optional<double> min = {},
             std::optional<double> max = {}) {
    return [=](CCommandLine& line, const std::string& text) -> std::optional<std::string> {
        const auto value = platform::ParseDouble(text);
        if (!value) {
            return "expects a number, not '" + text + "'" +
                   (platform::HasDecimalComma(text) ? " (use a decimal point, not a comma)" : "");
        }
        if (min && (*value < *min || *value > *max)) {
            return "must be between " + FormatGeneral15(*min) + " and " + FormatGeneral15(*max) + ", not " +
                   text;
        }
        line.m_settings.*field = *value;
        return std::nullopt;
    };
}

const std::vector<COption>& Options() {
    using S = CGenerationSettings;
    static const std::vector<COption> options = {
        {"--output", "-o",
         [](CCommandLine& line, const std::string& text) -> std::optional<std::string> {
             if (text.empty()) {
                 return "expects a file name";
             }
             // "-" is standard output; "./-" names a file called "-".
             line.m_settings.m_strFileName = text == "-" ? "/dev/stdout" : text;
             return std::nullopt;
         }},
        {"--duration", nullptr, DoubleSetter(&S::m_dDuration, kMinDuration, kMaxDuration)},
        {"--sample-rate", nullptr,
         [](CCommandLine& line, const std::string& text) -> std::optional<std::string> {
             const auto value = platform::ParseUnsigned32(text);
             if (!value || *value > kMaxSampleRate) {
                 return "must be a whole number between " + std::to_string(kMinSampleRate) + " and " +
                        std::to_string(kMaxSampleRate) + ", not '" + text + "'";
             }
             line.m_settings.m_nSampleRate = *value;
             return std::nullopt;
         }},
        {"--fundamental", nullptr, DoubleSetter(&S::m_dFundamentalFreq)},
        {"--mother-amplitude", nullptr, DoubleSetter(&S::m_dMotherAmplitude)},
        {"--carrier1", nullptr, DoubleSetter(&S::m_dCarrierFreq1)},
        {"--daughter-amplitude1", nullptr, DoubleSetter(&S::m_dDaughterAmplitude1)},
        {"--carrier2", nullptr, DoubleSetter(&S::m_dCarrierFreq2)},
        {"--daughter-amplitude2", nullptr, DoubleSetter(&S::m_dDaughterAmplitude2)},
        {"--nyquist-factor", nullptr,
         DoubleSetter(&S::m_dNyquistFactor, kMinNyquistFactor, kMaxNyquistFactor)},
        // Hidden, for benchmarks and tests: how the frames are computed (never what they are).
        {"--threads", nullptr,
         [](CCommandLine& line, const std::string& text) -> std::optional<std::string> {
             const auto value = platform::ParseUnsigned32(text);
             if (!value || *value < 1 || *value > 64) {
                 return "must be a whole number between 1 and 64, not '" + text + "'";
             }
             line.m_options.m_nThreads = *value;
             return std::nullopt;
         }},
        {"--kernel", nullptr,
         [](CCommandLine& line, const std::string& text) -> std::optional<std::string> {
             const std::vector<std::string>& names = render::KernelNames();
             if (std::find(names.begin(), names.end(), text) == names.end()) {
                 std::string known;
                 for (const std::string& name : names) {
                     known += (known.empty() ? "" : ", ") + name;
                 }
                 return "must be one of " + known + ", not '" + text + "'";
             }
             line.m_options.m_strKernel = text;
             return std::nullopt;
         }},
    };
    return options;
}

CCommandLine BadUsage(const std::string& message) {
    CCommandLine line;
    line.m_eAction = CCommandLine::EAction::BadUsage;
    line.m_strError = message;
    return line;
}

} // namespace

CCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    CCommandLine line;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "-h" || argument == "--help") {
            line.m_eAction = CCommandLine::EAction::Help;
            return line;
        }
        if (argument == "-q" || argument == "--quiet") {
            line.m_bQuiet = true;
            continue;
        }
        if (argument == "--info" || argument == "--json") {
            (argument == "--info" ? line.m_bInfo : line.m_bJson) = true;
            continue;
        }
        if (argument == "--per-frame") {
            line.m_options.m_ePath = render::ERenderPath::PerFrame;
            continue;
        }
        if (argument == "--version") {
            line.m_eAction = CCommandLine::EAction::Version;
            return line;
        }
        std::string name = argument;
        std::optional<std::string> value;
        if (const auto equals = argument.find('=');
            argument.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
        }
        const COption* option = nullptr;
        for (const COption& candidate : Options()) {
            if (name == candidate.m_szName || (candidate.m_szShort && name == candidate.m_szShort)) {
                option = &candidate;
            }
        }
        if (option == nullptr) {
            return BadUsage(argument.rfind('-', 0) == 0 ? "unknown option '" + name + "'"
                                                        : "unexpected argument '" + argument + "'");
        }
        if (!value) {
            if (i + 1 >= arguments.size()) {
                return BadUsage(std::string(option->m_szName) + " needs a value");
            }
            value = arguments[++i];
        }
        if (const auto error = option->m_apply(line, *value)) {
            return BadUsage(std::string(option->m_szName) + " " + *error);
        }
    }
    if (line.m_bJson && !line.m_bInfo) {
        return BadUsage("--json goes with --info");
    }
    return line;
}

std::string UsageText() {
    const CGenerationSettings defaults;
    return "Usage: vorlanx-gen [OPTION]...\n"
           "Write the Ombrel test signal as a stereo 16-bit PCM WAV file: odd harmonics 3, 5, 7, ... of\n"
           "the fundamental at amplitude A/n below the band limit, plus two ring-modulated carriers, on\n"
           "the left channel; a sine at the fundamental at 0.9 of full scale on the right.\n"
           "\n"
           "  -o, --output FILE             output file, - for standard output (default " +
           defaults.m_strFileName +
           ")\n"
           "      --duration SEC            0 to 1000000 (default 30)\n"
           "      --sample-rate HZ          whole number, 0 to 1000000 (default 44100)\n"
           "      --fundamental HZ          fundamental frequency f0 (default 277)\n"
           "      --mother-amplitude A      harmonic n gets A/n; 1 = full scale (default 1)\n"
           "      --carrier1 HZ             carrier of the first daughter (default 3878)\n"
           "      --daughter-amplitude1 A   level of the first daughter (default 0)\n"
           "      --carrier2 HZ             carrier of the second daughter (default 4155)\n"
           "      --daughter-amplitude2 A   level of the second daughter (default 0)\n"
           "      --nyquist-factor F        band limit as a fraction of half the rate, 0 to 1 (default "
           "0.95)\n"
           "  -q, --quiet                   no progress line\n"
           "      --info                    print what the settings will produce (harmonics, size,\n"
           "                                exact peak, warnings) and write nothing; -o is ignored\n"
           "      --json                    with --info: one JSON object instead of the report\n"
           "  -h, --help                    show this text\n"
           "      --version                 show the version\n"
           "\n"
           "Options take their value as the next argument or after '='. Numbers use a decimal point.\n"
           "An existing file is replaced only once the new one is complete; until then, and after a\n"
           "failure or an interruption (Ctrl-C), it is left as it was. On a terminal a progress line\n"
           "shows how far a job of more than half a second has come.\n"
           "Exit status: 0 file written (a clipping warning included) or plan printed, 1 file not written\n"
           "or settings refused, 2 bad usage,\n"
           "128 + N interrupted by signal N (130 for Ctrl-C).\n";
}
