#include "instrument/html_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <limits>
#include <sys/stat.h>

#include "generation/settings_fields.h"
#include "instrument/svg_plot.h"
#include "platform/markup_text.h"
#include "platform/md5.h"
#include "platform/number_text.h"

namespace instrument {

namespace {

using platform::FormatDecimals;
using svg::CAxes;
using svg::Frame;
using svg::N;
using svg::Polyline;
using svg::Step;

std::string Figure(const std::optional<double>& value, int decimals, const char* unit) {
    return value ? platform::FormatFigure(*value, decimals) + unit : "n/a";
}

// A level in dBFS also in the converter's unit where its full scale was given: " (4.08 dBu)".
std::string Physical(const analysis::CAnalysisReport& report, double dbfs) {
    if (!report.m_fullScale || !std::isfinite(dbfs)) {
        return {};
    }
    const analysis::CFullScale& scale = *report.m_fullScale;
    const double value = scale.From(dbfs);
    return scale.m_eUnit == analysis::CFullScale::EUnit::Volt
               ? " (" + platform::FormatFigure(value, 6) + " V)"
               : " (" + platform::FormatFigure(value, 2) +
                     (scale.m_eUnit == analysis::CFullScale::EUnit::Dbu ? " dBu)" : " dBV)");
}

double LowestHz(const analysis::CAnalysisReport& report) {
    double lowest = report.m_dSampleRateHz / 2.0;
    for (const analysis::CToneResult& tone : report.m_aTones) {
        lowest = std::min(lowest, tone.m_dFrequencyHz);
    }
    return std::max(1.0, std::pow(10.0, std::floor(std::log10(std::max(lowest, 1.0)))));
}

// Gain of each tone against frequency, harmonics joined, daughters as open circles, and every gain
// mask as dashed curves (shifted by the figure at its reference frequency for a relative mask).
std::string ResponsePlot(const analysis::CAnalysisReport& report, const CLimits* limits) {
    double low = 0.0, high = 0.0;
    bool any = false;
    const auto widen = [&](double value) {
        if (std::isfinite(value)) {
            low = any ? std::min(low, value) : value;
            high = any ? std::max(high, value) : value;
            any = true;
        }
    };
    for (const analysis::CToneResult& tone : report.m_aTones) {
        widen(tone.m_dGainDb);
    }
    std::vector<std::pair<const CMask*, double>> masks;
    if (limits != nullptr) {
        for (const CMask& mask : limits->m_aMasks) {
            const std::optional<double> offset = MaskOffset(report, mask);
            if (mask.m_strFigure == "gain_db" && offset) {
                masks.emplace_back(&mask, *offset);
                for (const auto* curve : {&mask.m_aUpper, &mask.m_aLower}) {
                    for (const auto& point : *curve) {
                        widen(point.second + *offset);
                    }
                }
            }
        }
    }
    if (!any) {
        low = -1.0, high = 1.0;
    }
    const double pad = std::max(0.5, (high - low) * 0.1);
    const double step = Step(high - low + 2 * pad);
    const CAxes axes{LowestHz(report), report.m_dSampleRateHz / 2.0, std::floor((low - pad) / step) * step,
                     std::ceil((high + pad) / step) * step};
    std::string svg = "<svg class=\"plot\" id=\"response\" viewBox=\"0 0 720 300\" role=\"img\" "
                      "aria-label=\"Response\" xmlns=\"http://www.w3.org/2000/svg\">\n" +
                      Frame(axes, "Gain (dB)", step);
    for (const auto& [mask, offset] : masks) {
        for (const auto* curve : {&mask->m_aUpper, &mask->m_aLower}) {
            std::vector<std::pair<double, double>> points;
            // Each point, those beyond the axis moved onto its end with the curve's value there.
            for (const auto& point : *curve) {
                const double shown = std::clamp(point.first, axes.m_dLeft, axes.m_dRight);
                if (const std::optional<double> at = MaskCurveAt(*curve, shown)) {
                    points.emplace_back(axes.X(shown), axes.Y(*at + offset));
                }
            }
            svg += Polyline(points, "class=\"mask\" stroke=\"#c0392b\" stroke-width=\"1.5\" "
                                    "stroke-dasharray=\"6 4\"");
        }
    }
    std::vector<std::pair<double, double>> harmonics;
    for (const analysis::CToneResult& tone : report.m_aTones) {
        if (!std::isfinite(tone.m_dGainDb) || tone.m_dFrequencyHz < axes.m_dLeft) {
            continue;
        }
        const double x = axes.X(tone.m_dFrequencyHz), y = axes.Y(tone.m_dGainDb);
        if (tone.m_eKind == analysis::EToneKind::Harmonic) {
            harmonics.emplace_back(x, y);
            svg += "<circle cx=\"" + N(x) + "\" cy=\"" + N(y) + "\" r=\"2.5\" fill=\"#1f5fa8\"/>\n";
        } else {
            svg += "<circle cx=\"" + N(x) + "\" cy=\"" + N(y) +
                   "\" r=\"3.5\" fill=\"none\" stroke=\"#1f7a3a\" stroke-width=\"1.5\"/>\n";
        }
    }
    svg += Polyline(harmonics, "stroke=\"#1f5fa8\" stroke-width=\"1.5\"");
    return svg + "</svg>\n";
}

// The left channel's averaged spectrum (the highest bin in each column of the plot), the detection
// lines as grey verticals, the spurs as orange marks with their names.
std::string SpectrumPlot(const analysis::CAnalysisReport& report) {
    const double floor =
        report.m_dNoisePerBinDbfs ? std::max(-200.0, *report.m_dNoisePerBinDbfs - 20.0) : -160.0;
    const CAxes axes{LowestHz(report), report.m_dSampleRateHz / 2.0, std::floor(floor / 20.0) * 20.0, 0.0};
    std::string svg = "<svg class=\"plot\" id=\"spectrum\" viewBox=\"0 0 720 300\" role=\"img\" "
                      "aria-label=\"Spectrum\" xmlns=\"http://www.w3.org/2000/svg\">\n" +
                      Frame(axes, "Level (dBFS)", 20.0);
    for (const analysis::CLineResult& line : report.m_aLines) {
        if (line.m_dFrequencyHz < axes.m_dLeft || line.m_dFrequencyHz > axes.m_dRight) {
            continue;
        }
        const double x = axes.X(line.m_dFrequencyHz);
        svg += "<line class=\"detection\" x1=\"" + N(x) + "\" y1=\"" + N(CAxes::kY0) + "\" x2=\"" + N(x) +
               "\" y2=\"" + N(CAxes::kY1) + "\" stroke=\"#999\" stroke-dasharray=\"2 3\"/>\n";
    }
    // One point per half column: the loudest bin there, so no tone falls between the points.
    std::vector<std::pair<double, double>> points;
    const std::vector<float>& bins = report.m_aLeftSpectrumDbfs;
    if (report.m_dBinHz > 0.0) {
        int column = -1;
        double loudest = -std::numeric_limits<double>::infinity();
        for (std::size_t bin = 1; bin < bins.size(); ++bin) {
            const double hz = static_cast<double>(bin) * report.m_dBinHz;
            if (hz < axes.m_dLeft || hz > axes.m_dRight) {
                continue;
            }
            const int here = static_cast<int>(axes.X(hz) * 2.0);
            if (here != column && column >= 0 && std::isfinite(loudest)) {
                points.emplace_back(column / 2.0, axes.Y(loudest));
                loudest = -std::numeric_limits<double>::infinity();
            }
            column = here;
            loudest = std::max(loudest, static_cast<double>(bins[bin]));
        }
        if (column >= 0 && std::isfinite(loudest)) {
            points.emplace_back(column / 2.0, axes.Y(loudest));
        }
    }
    svg += Polyline(points, "class=\"trace\" stroke=\"#1f5fa8\" stroke-width=\"1\"");
    for (const analysis::CSpur& spur : report.m_aSpurs) {
        if (spur.m_dFrequencyHz < axes.m_dLeft || spur.m_dFrequencyHz > axes.m_dRight) {
            continue;
        }
        const double x = axes.X(spur.m_dFrequencyHz), y = axes.Y(spur.m_dLevelDbfs);
        svg += "<path class=\"spur\" d=\"M" + N(x - 4) + " " + N(y - 10) + " L" + N(x + 4) + " " + N(y - 10) +
               " L" + N(x) + " " + N(y - 3) + " Z\" fill=\"#d35400\"/>\n";
        if (!spur.m_strName.empty()) {
            svg += "<text x=\"" + N(x + 5) + "\" y=\"" + N(y - 12) + "\" fill=\"#a04000\">" +
                   platform::MarkupEscaped(spur.m_strName) + "</text>\n";
        }
    }
    return svg + "</svg>\n";
}

const CJudgement* FindJudgement(const CVerdict* verdict, const std::string& name) {
    if (verdict == nullptr) {
        return nullptr;
    }
    for (const CJudgement& judged : verdict->m_aLimits) {
        if (judged.m_strName == name) {
            return &judged;
        }
    }
    return nullptr;
}

} // namespace

std::string SessionText(std::uint64_t underruns, std::uint64_t overruns) {
    return std::to_string(underruns) + (underruns == 1 ? " underrun, " : " underruns, ") +
           std::to_string(overruns) + (overruns == 1 ? " overrun" : " overruns");
}

std::string PageStart(const std::string& title) {
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
           platform::MarkupEscaped(title) +
           "</title>\n<style>\n"
           "body{font-family:sans-serif;color:#111;background:#fff;margin:2em "
           "auto;max-width:760px;font-size:14px}\n"
           "h1{font-size:20px;margin:0 0 .3em}h2{font-size:16px;margin:1.2em 0 .4em;border-bottom:1px solid "
           "#ccc}\n"
           "table{border-collapse:collapse;width:100%}td,th{border:1px solid #ccc;padding:3px "
           "6px;text-align:left;"
           "vertical-align:top}\n"
           "td.num{text-align:right;white-space:nowrap;font-variant-numeric:tabular-nums}\n"
           ".banner{font-size:22px;font-weight:bold;padding:.4em .8em;border:3px solid;margin:.6em 0}\n"
           ".pass{color:#14532d;border-color:#15803d;background:#dcfce7}.fail{color:#7f1d1d;border-color:#"
           "b91c1c;"
           "background:#fee2e2}\n"
           "td.bad{color:#7f1d1d;font-weight:bold}svg.plot{width:100%;height:auto;font-size:11px}\n"
           ".meta td:first-child{width:9em;color:#444}\n"
           "@page{size:A4;margin:15mm}@media print{body{margin:0;max-width:none;font-size:11px}"
           "svg.plot{break-inside:avoid;max-height:66mm}h2{break-after:avoid}tr{break-inside:avoid}}\n"
           "</style>\n</head>\n<body>\n<h1>" +
           platform::MarkupEscaped(title) + "</h1>\n";
}

std::string MetaRow(const std::string& label, const std::string& value) {
    return value.empty() ? std::string()
                         : "<tr><td>" + platform::MarkupEscaped(label) + "</td><td>" +
                               platform::MarkupEscaped(value) + "</td></tr>\n";
}

std::string VerdictBanner(const CVerdict* verdict) {
    if (verdict == nullptr) {
        return "";
    }
    std::size_t failed = 0;
    for (const CJudgement& judged : verdict->m_aLimits) {
        failed += judged.m_bPass ? 0 : 1;
    }
    return std::string("<div class=\"banner ") +
           (verdict->m_bPass ? "pass\" id=\"verdict\">PASS" : "fail\" id=\"verdict\">FAIL") + " &mdash; " +
           std::to_string(verdict->m_aLimits.size() - failed) + " of " +
           std::to_string(verdict->m_aLimits.size()) + " limits met</div>\n";
}

std::string ReportHtml(const analysis::CAnalysisReport& report, const CVerdict* verdict,
                       const CLimits* limits, const CReportContext& context) {
    std::string html = PageStart("Measurement of " + report.m_strRecording) + VerdictBanner(verdict);
    html += "<table class=\"meta\">\n";
    const auto meta = [&](const char* label, const std::string& value) { html += MetaRow(label, value); };
    meta("Measured", context.m_strWhen);
    meta("Recording", report.m_strRecording);
    meta("MD5", context.m_strChecksum);
    meta("Format", report.m_strFormat + ", " + std::to_string(report.m_nChannels) + " channel(s), " +
                       platform::FormatGeneral15(report.m_dSampleRateHz) + " Hz");
    if (report.m_fullScale) {
        const std::string zero = Physical(report, 0.0);
        meta("Full scale", zero.substr(2, zero.size() - 3) + ", a full-scale sine's RMS");
    }
    meta("Devices", context.m_strDevices);
    meta("Underruns, overruns", context.m_strSession);
    if (report.m_nLatencyFrames && report.m_dSampleRateHz > 0.0) {
        meta("Latency",
             FormatDecimals(static_cast<double>(*report.m_nLatencyFrames) / report.m_dSampleRateHz * 1000.0,
                            2) +
                 " ms (" + std::to_string(*report.m_nLatencyFrames) +
                 " frames, first played to the stimulus's start)");
    }
    meta("Settings", context.m_strSettings);
    meta("Software", context.m_strVersion);
    html += "</table>\n";

    if (verdict != nullptr) {
        html += "<section><h2>Verdict</h2>\n<table>\n<tr><th>Limit</th><th>Measured</th><th>Bound</th>"
                "<th>Margin</th><th>Worst at</th><th>Result</th></tr>\n";
        for (const CJudgement& judged : verdict->m_aLimits) {
            html +=
                "<tr><td>" + platform::MarkupEscaped(judged.m_strName) + "</td><td class=\"num\">" +
                platform::FormatFigure(judged.m_dValue, 3) + "</td><td>" +
                platform::MarkupEscaped(judged.m_strLimit) + "</td><td class=\"num\">" +
                platform::FormatFigure(judged.m_dMargin, 3, true) + "</td><td class=\"num\">" +
                (judged.m_dWorstHz ? platform::FormatFigure(*judged.m_dWorstHz, 1) + " Hz" : std::string()) +
                "</td><td" + (judged.m_bPass ? ">pass" : " class=\"bad\">FAIL") +
                (judged.m_bNoiseLimited ? " (noise-limited)" : "") + "</td></tr>\n";
        }
        html += "</table></section>\n";
    }

    html +=
        "<section><h2>Response</h2>\n" + ResponsePlot(report, limits) +
        "<p>Gain of each stimulus tone against the stimulus: harmonics joined (filled), daughter tones as "
        "circles" +
        std::string(limits != nullptr && !limits->m_aMasks.empty() ? ", gain masks dashed" : "") +
        ".</p></section>\n";
    html += "<section><h2>Spectrum</h2>\n" + SpectrumPlot(report) +
            "<p>Left channel averaged over the segments, a tone's peak at its level; detection lines dotted, "
            "spurs marked.</p></section>\n";

    html += "<section><h2>Summary</h2>\n<table>\n<tr><th>Figure</th><th>Value</th><th>Uncertainty</th>"
            "<th>Limit</th><th>Definition</th></tr>\n";
    const auto row = [&](const std::string& key, const std::string& label, const std::string& value,
                         const std::string& uncertainty, bool noiseLimited, const std::string& definition) {
        const CJudgement* judged = FindJudgement(verdict, key);
        html += "<tr><td>" + platform::MarkupEscaped(label) + "</td><td class=\"num" +
                (judged != nullptr && !judged->m_bPass ? std::string(" bad") : std::string()) + "\">" +
                platform::MarkupEscaped(value) + "</td><td>" +
                platform::MarkupEscaped(noiseLimited ? "noise-limited" : uncertainty) + "</td><td>" +
                (judged != nullptr ? platform::MarkupEscaped(judged->m_strLimit) : std::string()) +
                "</td><td>" + platform::MarkupEscaped(definition) + "</td></tr>\n";
    };
    const std::string half = platform::FormatGeneral15(report.m_dSampleRateHz / 2.0);
    row("distortion_noise_db", "Distortion + noise", Figure(report.m_dDistortionNoiseDb, 2, " dB"), "",
        report.m_bDistortionNoiseNoiseLimited,
        "All power but the stimulus tones and DC, 0 Hz to " + half +
            " Hz, against the stimulus tones' power.");
    row("even_order_db", "Even order", Figure(report.m_dEvenOrderDb, 2, " dB"), "",
        report.m_bEvenOrderNoiseLimited,
        "Power on the even detection lines (2n x f0, empty in the stimulus) against the stimulus tones.");
    row("odd_order_db", "Odd order", Figure(report.m_dOddOrderDb, 2, " dB"), "",
        report.m_bOddOrderNoiseLimited,
        "Power at f0 and on the odd lines above the band limit against the stimulus tones.");
    row("noise_floor_dbfs", "Noise floor", Figure(report.m_dNoiseFloorDbfs, 2, " dBFS"), "", false,
        "Noise between the lines, 0 Hz to " + half + " Hz, from the median of their neighbourhoods.");
    row("fundamental_hz", "Fundamental", Figure(report.m_dFundamentalHz, 6, " Hz"), "", false,
        "f0 as recorded, fitted to all harmonics.");
    row("clock_offset_ppm", "Clock offset", Figure(report.m_dClockOffsetPpm, 2, " ppm"), "", false,
        "How far the recorder's clock runs from the player's, from f0.");
    row("delay_ms", "Delay", Figure(report.m_dDelayMs, 4, " ms"), "", false,
        report.m_bDelayFromStarts
            ? "The device's whole delay, from the stimulus's start on both channels."
            : "The left channel's delay behind the reference, within a quarter period of f0.");
    if (report.m_reference.m_bPresent) {
        row("reference.level_dbfs", "Reference level",
            Figure(report.m_reference.m_dLevelDbfs, 2, " dBFS") +
                Physical(report, report.m_reference.m_dLevelDbfs),
            "", false, "The reference tone's level; 0 dBFS is a full-scale sine.");
        row("reference.thd_n_db", "Reference THD+N", Figure(report.m_reference.m_dThdNoiseDb, 2, " dB"), "",
            false, "Everything from 20 Hz to 20 kHz but the reference tone, against it.");
    }
    html +=
        "</table>\n<h2>Tones</h2>\n<table>\n<tr><th>Tone</th><th>Frequency</th><th>Level</th><th>Gain</th>"
        "<th>u(gain)</th><th>Phase</th><th>u(phase)</th></tr>\n";
    for (const analysis::CToneResult& tone : report.m_aTones) {
        const std::string name = tone.m_eKind == analysis::EToneKind::Harmonic
                                     ? std::to_string(tone.m_nNumber) + " x f0"
                                     : "daughter " + std::to_string(tone.m_nNumber) +
                                           (tone.m_eSide == analysis::ESide::Lower ? " (fc-f0)" : " (fc+f0)");
        html += "<tr><td>" + name + "</td><td class=\"num\">" +
                platform::FormatFigure(tone.m_dFrequencyHz, 2) + " Hz</td><td class=\"num\">" +
                platform::FormatFigure(tone.m_dLevelDbfs, 2) + " dBFS" + Physical(report, tone.m_dLevelDbfs) +
                "</td><td class=\"num\">" + platform::FormatFigure(tone.m_dGainDb, 3, true) +
                " dB</td><td class=\"num\">" + Figure(tone.m_dGainUncertaintyDb, 3, " dB") +
                "</td><td class=\"num\">" + platform::FormatFigure(tone.m_dPhaseDeg, 2, true) +
                "&deg;</td><td class=\"num\">" + Figure(tone.m_dPhaseUncertaintyDeg, 2, "&deg;") +
                "</td></tr>\n";
    }
    html += "</table></section>\n<section><h2>Warnings</h2>\n";
    if (report.m_aWarnings.empty()) {
        html += "<p>None.</p>\n";
    } else {
        html += "<ul>\n";
        for (const std::string& warning : report.m_aWarnings) {
            html += "<li>" + platform::MarkupEscaped(warning) + "</li>\n";
        }
        html += "</ul>\n";
    }
    return html + "</section>\n</body>\n</html>\n";
}

CReportContext MakeReportContext(const CGenerationSettings& settings, const std::string& recordingPath,
                                 const std::string& devices, const std::string& version) {
    CReportContext context;
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    char when[40] = {};
    if (::gmtime_r(&now, &utc) != nullptr) {
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", &utc);
    }
    context.m_strWhen = when;
    if (!recordingPath.empty() && recordingPath != "-") {
        context.m_strChecksum = FileMd5(recordingPath);
    }
    for (std::size_t i = 0; i < kSignalFields; ++i) {
        const CSettingsField& field = SettingsFields()[i];
        if (std::string_view(field.m_szName) != "duration") {
            context.m_strSettings += (context.m_strSettings.empty() ? "" : ", ") +
                                     std::string(field.m_szName) + " " + field.ValueText(settings);
        }
    }
    context.m_strDevices = devices;
    context.m_strVersion = version;
    return context;
}

std::string FileMd5(const std::string& path) {
    // Regular files only: a FIFO or a device would be read again, or wait for a writer that is gone.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return {};
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};
    }
    platform::CMd5 md5;
    std::vector<unsigned char> buffer(1 << 16);
    while (in) {
        in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(buffer.size()));
        md5.Add(buffer.data(), static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) {
        return {};
    }
    std::string hex;
    char digits[3];
    for (const unsigned char byte : md5.Finish()) {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        hex += digits;
    }
    return hex;
}

} // namespace instrument
