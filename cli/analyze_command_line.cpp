#include "cli/analyze_command_line.h"

#include <cmath>

#include "cli/option_parser.h"
#include "generation/settings_fields.h"
#include "platform/number_text.h"

namespace {

// A number of seconds: >= 0 (or > 0 when `positive`), finite.
std::optional<std::string> Seconds(const std::string& text, bool positive, double& out) {
    const auto value = platform::ParseDouble(text);
    if (!value || *value < 0.0 || (positive && *value == 0.0)) {
        return std::string(positive ? "expects a number of seconds above 0"
                                    : "expects a number of seconds, 0 or more") +
               ", not '" + text + "'";
    }
    out = *value;
    return std::nullopt;
}

std::optional<std::string> Channel(const std::string& text, int& out) {
    const auto value = platform::ParseUnsigned32(text);
    if (!value || *value < 1 || *value > 1024) {
        return "expects a channel number from 1, not '" + text + "'";
    }
    out = static_cast<int>(*value);
    return std::nullopt;
}

} // namespace

CAnalyzeCommandLine ParseAnalyzeCommandLine(const std::vector<std::string>& arguments) {
    using A = CAnalyzeCommandLine;
    A line;
    const auto flag = [](const char* name, const char* shortName, auto set) {
        return COption{name, shortName, false, [set](const std::string&) -> std::optional<std::string> {
                           set();
                           return std::nullopt;
                       }};
    };
    std::vector<COption> options = {
        flag("--help", "-h", [&] { line.m_eAction = A::EAction::Help; }),
        flag("--version", "", [&] { line.m_eAction = A::EAction::Version; }),
        flag("--json", "", [&] { line.m_eFormat = A::EFormat::Json; }),
        flag("--csv", "", [&] { line.m_eFormat = A::EFormat::Csv; }),
        flag("--quiet", "-q", [&] { line.m_bQuiet = true; }),
        {"--skip", "", true,
         [&](const std::string& text) { return Seconds(text, false, line.m_options.m_dSkipS); }},
        {"--length", "", true,
         [&](const std::string& text) {
             double length = 0.0;
             auto error = Seconds(text, true, length);
             line.m_options.m_dLengthS = length;
             return error;
         }},
        {"--left", "", true,
         [&](const std::string& text) { return Channel(text, line.m_options.m_nLeftChannel); }},
        {"--right", "", true,
         [&](const std::string& text) { return Channel(text, line.m_options.m_nRightChannel); }},
        {"--output", "-o", true,
         [&](const std::string& text) -> std::optional<std::string> {
             if (text.empty()) {
                 return "expects a file name";
             }
             line.m_strOutput = text == "-" ? "" : text;
             return std::nullopt;
         }},
    };
    const auto device = [](std::string& out) {
        return [&out](const std::string& text) -> std::optional<std::string> {
            if (text.empty()) {
                return "expects a device's name, or part of it (see --list-devices)";
            }
            out = text;
            return std::nullopt;
        };
    };
    const auto file = [](std::string& out) {
        return [&out](const std::string& text) -> std::optional<std::string> {
            if (text.empty()) {
                return "expects a file name";
            }
            out = text;
            return std::nullopt;
        };
    };
    options.push_back({"--limits", "", true, file(line.m_strLimits)});
    options.push_back({"--junit", "", true, file(line.m_strJunit)});
    options.push_back({"--report", "", true, file(line.m_strReport)});
    options.push_back(
        {"--make-limits", "", true, [&](const std::string& text) -> std::optional<std::string> {
             const auto k = platform::ParseDouble(text);
             if (!k || !(*k > 0.0 && *k <= 100.0)) {
                 return "expects how many standard deviations the limits allow, above 0, not '" + text + "'";
             }
             line.m_dMakeLimitsK = *k;
             return std::nullopt;
         }});
    options.push_back({"--full-scale", "", true, [&](const std::string& text) -> std::optional<std::string> {
                           line.m_fullScale = analysis::ParseFullScale(text);
                           if (!line.m_fullScale) {
                               return "expects a level with its unit, such as 18dBu, 6dBV or 1.5V, not '" +
                                      text + "'";
                           }
                           return std::nullopt;
                       }});
    options.push_back(flag("--measure", "", [&] { line.m_bMeasure = true; }));
    options.push_back(flag("--continuous", "", [&] { line.m_bContinuous = true; }));
    options.push_back({"--update", "", true, [&](const std::string& text) -> std::optional<std::string> {
                           const auto value = platform::ParseDouble(text);
                           if (!value || !(*value >= 0.05 && *value <= 3600.0)) {
                               return "expects seconds between updates, from 0.05 to 3600, not '" + text +
                                      "'";
                           }
                           line.m_continuous.m_dUpdateS = *value;
                           return std::nullopt;
                       }});
    options.push_back({"--average", "", true, [&](const std::string& text) -> std::optional<std::string> {
                           const auto value = platform::ParseUnsigned32(text);
                           if (!value || *value < 1 || *value > instrument::kMaxAverage) {
                               return "expects how many blocks to average, 1 to " +
                                      std::to_string(instrument::kMaxAverage) + ", not '" + text + "'";
                           }
                           line.m_continuous.m_nAverage = *value;
                           return std::nullopt;
                       }});
    options.push_back({"--count", "", true, [&](const std::string& text) -> std::optional<std::string> {
                           const auto value = platform::ParseUnsigned32(text);
                           if (!value || *value < 1) {
                               return "expects how many updates, 1 or more, not '" + text + "'";
                           }
                           line.m_continuous.m_nCount = *value;
                           return std::nullopt;
                       }});
    options.push_back({"--sweep", "", true, [&](const std::string& text) -> std::optional<std::string> {
                           std::string error;
                           line.m_sweep = instrument::ParseSweep(text, error);
                           if (!line.m_sweep) {
                               return error;
                           }
                           return std::nullopt;
                       }});
    options.push_back({"--gain-at", "", true, [&](const std::string& text) -> std::optional<std::string> {
                           const auto value = platform::ParseDouble(text);
                           if (!value || !(*value > 0.0) || !std::isfinite(*value)) {
                               return "expects a frequency in Hz above 0, not '" + text + "'";
                           }
                           line.m_dGainAtHz = *value;
                           return std::nullopt;
                       }});
    options.push_back(flag("--list-devices", "", [&] { line.m_bListDevices = true; }));
    options.push_back({"--output-device", "", true, device(line.m_strOutputDevice)});
    options.push_back({"--input-device", "", true, device(line.m_strInputDevice)});
    options.push_back({"--input", "", true, device(line.m_strInputDevice)});
    options.push_back(
        {"--save-recording", "", true, [&](const std::string& text) -> std::optional<std::string> {
             if (text.empty()) {
                 return "expects a file name";
             }
             line.m_strSaveRecording = text;
             return std::nullopt;
         }});
    // The stimulus's sample format as played, from the settings table as vorlanx-gen reads it.
    options.push_back({"--format", "", true, [&](const std::string& text) {
                           return ApplySettingsField(*FindSettingsField("format"), text, line.m_settings);
                       }});
    // The stimulus's fades, from the settings table: left out of the analysed span.
    for (const char* name : {"fade-in", "fade-out"}) {
        const CSettingsField& field = *FindSettingsField(name);
        options.push_back({field.OptionName(), "", true, [&field, &line](const std::string& text) {
                               return ApplySettingsField(field, text, line.m_settings);
                           }});
    }
    options[0].m_bEndsParsing = options[1].m_bEndsParsing = true;
    AddSettingsOptions(options, line.m_settings, true);

    std::vector<std::string> positional;
    const auto bad = [](const std::string& error) {
        A result;
        result.m_eAction = A::EAction::BadUsage;
        result.m_strError = error;
        return result;
    };
    if (const auto error = ParseOptions(arguments, options, &positional)) {
        return bad(*error);
    }
    int formats = 0;
    for (const std::string& argument : arguments) {
        if (argument == "--") {
            break;
        }
        line.m_bSampleRateGiven |= argument == "--sample-rate" || argument.rfind("--sample-rate=", 0) == 0;
        formats += argument == "--json" || argument == "--csv";
    }
    if (formats > 1 && line.m_eAction == A::EAction::Analyze) {
        return bad("--json and --csv exclude each other: choose one report format");
    }
    if (!line.m_strJunit.empty() && line.m_strLimits.empty() && line.m_eAction == A::EAction::Analyze) {
        return bad("--junit writes the verdict of --limits: give a limits file");
    }
    if (line.m_eAction != A::EAction::Analyze || line.m_bListDevices) {
        return line;
    }
    const bool live =
        !line.m_strOutputDevice.empty() || !line.m_strInputDevice.empty() || !line.m_strSaveRecording.empty();
    std::string continuousOnly;
    for (const std::string& argument : arguments) {
        if (argument == "--") {
            break;
        }
        for (const char* name : {"--update", "--average", "--count"}) {
            if (argument == name || argument.rfind(std::string(name) + "=", 0) == 0) {
                continuousOnly = name;
            }
        }
    }
    if (!continuousOnly.empty() && !line.m_bContinuous) {
        return bad(continuousOnly + " goes with --measure --continuous");
    }
    if (line.m_dGainAtHz && !line.m_bContinuous && !line.m_sweep) {
        return bad("--gain-at goes with --continuous or --sweep");
    }
    if (line.m_sweep) {
        if (line.m_bContinuous || line.m_dMakeLimitsK || !line.m_strSaveRecording.empty()) {
            return bad(
                "--sweep measures each step once: --continuous, --make-limits and --save-recording do not "
                "go with it");
        }
        if (line.m_bMeasure) {
            return positional.empty()
                       ? line
                       : bad("--measure --sweep records its own steps: no FOLDER goes with it");
        }
        if (positional.size() != 1) {
            return bad("--sweep expects the folder of recordings, one per step (or --measure)");
        }
        line.m_strRecording = positional.front();
        return line;
    }
    if (line.m_bContinuous) {
        if (!line.m_bMeasure) {
            return bad("--continuous measures live: it goes with --measure");
        }
        if (line.m_eFormat == A::EFormat::Csv || !line.m_strOutput.empty() || !line.m_strReport.empty() ||
            !line.m_strJunit.empty() || !line.m_strSaveRecording.empty()) {
            return bad("--continuous prints a line per update (--json: a JSON object per line) on standard "
                       "output: -o, --csv, --report, --junit and --save-recording do not go with it");
        }
    }
    if (line.m_bMeasure) {
        return positional.empty() ? line
                                  : bad("--measure records its own recording: no RECORDING goes with it");
    }
    if (live) {
        return bad("--output-device, --input-device and --save-recording go with --measure");
    }
    if (line.m_dMakeLimitsK) {
        if (positional.size() < 2 || line.m_bMeasure || !line.m_strLimits.empty()) {
            return bad("--make-limits K takes two or more known-good recordings (and neither --measure nor "
                       "--limits)");
        }
        line.m_aGolden = positional;
        return line;
    }
    if (positional.size() != 1) {
        return bad(positional.empty() ? "expects the recording to analyse"
                                      : "expects one recording, not " + std::to_string(positional.size()));
    }
    line.m_strRecording = positional.front();
    return line;
}

std::string AnalyzeUsageText() {
    const CGenerationSettings defaults;
    return "Usage: vorlanx-analyze [OPTION]... RECORDING\n"
           "  or:  vorlanx-analyze --measure [OPTION]...\n"
           "  or:  vorlanx-analyze --sweep SPEC [OPTION]... (FOLDER | --measure)\n"
           "Measure a recording of the Ombrel test signal after it went through a device: the device's\n"
           "gain and phase at every stimulus tone, its delay and polarity, the distortion on the lines\n"
           "the stimulus leaves empty, distortion + noise, the noise floor, and the reference's THD.\n"
           "RECORDING is any file libsndfile reads: the left channel (1) is the device's output, the\n"
           "right (2) the reference; a mono file has no reference.\n"
           "\n"
           "The stimulus, as vorlanx-gen made it:\n" +
           SettingsUsage(defaults, true) +
           UsageLine("    --fade-in SEC", "the stimulus's fade-in, left out of the analysis (default 0)") +
           UsageLine("    --fade-out SEC", "the stimulus's fade-out, left out of the analysis (default 0)") +
           "\n"
           "The analysis (the stimulus is found in the recording: silence or other sound before and\n"
           "after it is left out, and the skip counts from its start):\n" +
           UsageLine("    --skip SEC", "settling time skipped after the stimulus's start (default 0.1)") +
           UsageLine("    --length SEC", "analyse at most this much after the skip (default: to its end)") +
           UsageLine("    --left N", "channel of the device's output (default 1)") +
           UsageLine("    --right N", "channel of the reference (default 2; none in a mono file)") +
           UsageLine("    --json", "the report as one JSON object") +
           UsageLine("    --csv", "one row per tone and detection line") +
           UsageLine("-o, --output FILE", "write the report to FILE (default standard output)") +
           UsageLine("    --limits FILE", "judge the figures against a limits file (TOML): a verdict,") +
           UsageLine("", "exit status 3 when a limit fails") +
           UsageLine("    --junit FILE", "write the verdict as JUnit XML, one testcase per limit") +
           UsageLine("    --report FILE", "write the measurement as an HTML page to file or print:") +
           UsageLine("", "verdict, plots with masks, figures with their definitions") +
           UsageLine("    --make-limits K GOLDEN...", "print a limits file from two or more known-good") +
           UsageLine("", "recordings: each tone's gain within K standard deviations") +
           UsageLine("", "of their mean (at least 0.05 dB), the distortion figures") +
           UsageLine("", "within K of theirs (at least 1 dB); -o writes it to a file") +
           UsageLine("    --full-scale LEVEL",
                     "the converter's full scale (18dBu, 6dBV, 1.5V): levels also") +
           UsageLine("", "read in that unit") +
           "\n"
           "Measuring live (play the stimulus, record the device's answer, analyse it):\n" +
           UsageLine("    --measure", "play on the output device, record the input device for the") +
           UsageLine("", "duration plus the latency, then report as for a file") +
           UsageLine("    --output-device NAME", "plays the stimulus (default: the system's default)") +
           UsageLine("    --input-device NAME", "records the answer, channel 1 the device's output,") +
           UsageLine("", "channel 2 the reference (default: the default); also --input") +
           UsageLine("    --save-recording FILE", "keep the recording (32-bit float WAV)") +
           UsageLine("    --format s16|s24|f32", "the stimulus's samples as played (default s16)") +
           UsageLine("    --continuous", "with --measure: loop the stimulus and analyse the newest") +
           UsageLine("", "block of whole periods again and again, a line per update") +
           UsageLine("", "(--json: a JSON object per line) until Ctrl-C or --count") +
           UsageLine("    --update SEC", "seconds of recording per update (default 1)") +
           UsageLine("    --average N", "average the newest N blocks coherently: the noise floor") +
           UsageLine("", "falls by 10 log10 N dB (default 1)") +
           UsageLine("    --count N", "stop after N updates (default: at Ctrl-C)") +
           UsageLine("    --gain-at HZ", "the tone whose gain a line or a sweep shows (default: the") +
           UsageLine("", "first)") +
           "\n"
           "Sweeps (one measurement per step, live with --measure or from FOLDER, whose recordings\n"
           "are named by step: step_-40.wav, amp_-37.5dB.wav, 277Hz.flac):\n" +
           UsageLine("    --sweep level=START:STOP:STEP", "the left's level in dB against the settings'") +
           UsageLine("", "amplitudes: D+N, even and odd order and gain against") +
           UsageLine("", "level, where D+N is lowest and where it first passes") +
           UsageLine("", "the limits file's [sweep] limit_db (default -40 dB)") +
           UsageLine("    --sweep fundamental=F1,F2,...", "each f0 in turn, their responses merged") +
           UsageLine("    --list-devices", "list the sound devices and their channels, and exit") +
           UsageLine("-q, --quiet", "no progress line") + UsageLine("-h, --help", "show this text") +
           UsageLine("    --version", "show the version") +
           "\n"
           "Options take their value as the next argument or after '='. Numbers use a decimal point.\n"
           "The recording's sample rate is the stimulus's unless --sample-rate gives another.\n"
           "RECORDING '-' is standard input; a pipe is read whole before it is analysed.\n"
           "Exit status: 0 measured (warnings included), 1 the recording cannot be analysed (no stimulus\n"
           "found, silent, too short, ...) or the devices failed, 2 bad usage,\n"
           "3 a limit failed, 128 + N interrupted by signal N (130 for Ctrl-C).\n";
}
