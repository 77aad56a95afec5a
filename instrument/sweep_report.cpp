// The sweep's HTML page (declared in html_report.h).
#include <algorithm>
#include <cmath>
#include <limits>

#include "instrument/html_report.h"
#include "instrument/svg_plot.h"
#include "platform/markup_text.h"
#include "platform/number_text.h"

namespace instrument {

namespace {

using svg::CAxes;
using svg::N;

struct CCurve {
    const char* m_szFigure;
    const char* m_szName;
    const char* m_szColour;
};
const CCurve kDistortionCurves[] = {{"distortion_noise_db", "D+N", "#1f5fa8"},
                                    {"even_order_db", "even order", "#15803d"},
                                    {"odd_order_db", "odd order", "#d35400"}};

// The figure's value at each measured step, ascending in the step's value.
std::vector<std::pair<double, double>> CurveOf(const CSweepResult& result, const std::string& figure) {
    std::vector<std::pair<double, double>> points;
    for (const CSweepStep& step : result.m_aSteps) {
        if (step.m_outcome.m_report) {
            const auto value = SweepFigure(*step.m_outcome.m_report, figure, result.m_dGainAtHz);
            if (value && std::isfinite(*value)) {
                points.emplace_back(step.m_dValue, *value);
            }
        }
    }
    std::sort(points.begin(), points.end());
    return points;
}

// Rounded out to the step below and above, with room for a curve at either edge.
std::pair<double, double> Span(double low, double high, double step) {
    if (!(high > low)) {
        low -= step;
        high += step;
    }
    return {std::floor(low / step) * step, std::ceil(high / step) * step};
}

std::string Legend(double x, double y, const char* colour, const std::string& name) {
    return "<line x1=\"" + N(x) + "\" y1=\"" + N(y - 4) + "\" x2=\"" + N(x + 18) + "\" y2=\"" + N(y - 4) +
           "\" stroke=\"" + colour + "\" stroke-width=\"2\"/><text x=\"" + N(x + 22) + "\" y=\"" + N(y) +
           "\">" + platform::MarkupEscaped(name) + "</text>\n";
}

// Figures against level: `figures` as curves, the sweep bounds on them dashed, and for D+N the limit
// figure dotted with the best and limit levels marked.
std::string LevelPlot(const CSweepResult& result, const CLimits* limits, const std::vector<CCurve>& curves,
                      const std::string& yLabel, const std::string& id) {
    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (const CCurve& curve : curves) {
        for (const auto& [level, value] : CurveOf(result, curve.m_szFigure)) {
            low = std::min(low, value);
            high = std::max(high, value);
        }
    }
    if (!std::isfinite(low)) {
        return "";
    }
    const bool distortion = curves.size() > 1;
    if (distortion) {
        low = std::min(low, result.m_dLimitDb);
        high = std::max(high, result.m_dLimitDb);
    }
    const double yStep = svg::Step(high - low);
    const auto [bottom, top] = Span(low, high, yStep);
    const auto [left, right] =
        std::minmax_element(result.m_spec.m_aValues.begin(), result.m_spec.m_aValues.end());
    CAxes axes{*left, *right, bottom, top, true};
    if (!(axes.m_dRight > axes.m_dLeft)) {
        axes.m_dLeft -= 1.0;
        axes.m_dRight += 1.0;
    }
    std::string plot = "<svg class=\"plot\" id=\"" + id +
                       "\" viewBox=\"0 0 720 300\" xmlns=\"http://www.w3.org/2000/svg\" role=\"img\">\n" +
                       svg::Frame(axes, yLabel, yStep, "Level (dB against the settings' amplitude)");
    double legendX = CAxes::kX0 + 10;
    for (const CCurve& curve : curves) {
        std::vector<std::pair<double, double>> points;
        for (const auto& [level, value] : CurveOf(result, curve.m_szFigure)) {
            points.emplace_back(axes.X(level), axes.Y(value));
            plot += "<circle cx=\"" + N(axes.X(level)) + "\" cy=\"" + N(axes.Y(value)) +
                    "\" r=\"2.5\" fill=\"" + curve.m_szColour + "\"/>\n";
        }
        plot += svg::Polyline(points, std::string("class=\"curve\" stroke=\"") + curve.m_szColour +
                                          "\" stroke-width=\"1.5\"");
        if (curves.size() > 1) {
            plot += Legend(legendX, CAxes::kY0 + 16, curve.m_szColour, curve.m_szName);
            legendX += 110;
        }
        for (const CSweepBound& bound : limits ? limits->m_aSweepBounds : std::vector<CSweepBound>()) {
            if (bound.m_strFigure != curve.m_szFigure) {
                continue;
            }
            const double from = std::max(bound.m_dFrom.value_or(axes.m_dLeft), axes.m_dLeft);
            const double to = std::min(bound.m_dTo.value_or(axes.m_dRight), axes.m_dRight);
            for (const auto& edge : {bound.m_dMin, bound.m_dMax}) {
                if (edge) {
                    plot += svg::Polyline({{axes.X(from), axes.Y(*edge)}, {axes.X(to), axes.Y(*edge)}},
                                          "class=\"mask\" stroke=\"#c0392b\" stroke-width=\"1.5\" "
                                          "stroke-dasharray=\"6 4\"");
                }
            }
        }
    }
    if (distortion) {
        plot +=
            svg::Polyline({{CAxes::kX0, axes.Y(result.m_dLimitDb)}, {CAxes::kX1, axes.Y(result.m_dLimitDb)}},
                          "class=\"limit\" stroke=\"#666\" stroke-dasharray=\"2 3\"");
        for (const auto& [level, name] :
             {std::pair{result.m_dBestLevelDb, "best"}, std::pair{result.m_dLimitLevelDb, "limit"}}) {
            if (level) {
                const double x = axes.X(*level);
                plot += "<line class=\"marker\" x1=\"" + N(x) + "\" y1=\"" + N(CAxes::kY0) + "\" x2=\"" +
                        N(x) + "\" y2=\"" + N(CAxes::kY1) +
                        "\" stroke=\"#7c3aed\" stroke-dasharray=\"4 3\"/>\n" + "<text x=\"" + N(x + 3) +
                        "\" y=\"" + N(CAxes::kY1 - 6) + "\" fill=\"#7c3aed\">" + name + " " +
                        StepText(*level) + " dB</text>\n";
            }
        }
    }
    return plot + "</svg>\n";
}

// The merged response: gain against frequency, a colour for each fundamental the points came from.
std::string MergedPlot(const CSweepResult& result) {
    if (result.m_aMerged.empty()) {
        return "";
    }
    static const char* const kColours[] = {"#1f5fa8", "#d35400", "#15803d", "#7c3aed", "#b91c1c"};
    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (const CMergedPoint& point : result.m_aMerged) {
        low = std::min(low, point.m_dGainDb);
        high = std::max(high, point.m_dGainDb);
    }
    const double yStep = svg::Step(std::max(high - low, 1.0));
    const auto [bottom, top] = Span(low - yStep / 2, high + yStep / 2, yStep);
    const double first = result.m_aMerged.front().m_dFrequencyHz;
    const double last = result.m_aMerged.back().m_dFrequencyHz;
    const CAxes axes{std::pow(10.0, std::floor(std::log10(first))),
                     std::pow(10.0, std::ceil(std::log10(last))), bottom, top, false};
    std::string plot = "<svg class=\"plot\" id=\"merged\" viewBox=\"0 0 720 300\" "
                       "xmlns=\"http://www.w3.org/2000/svg\" role=\"img\">\n" +
                       svg::Frame(axes, "Gain (dB)", yStep);
    std::vector<std::pair<double, double>> line;
    for (const CMergedPoint& point : result.m_aMerged) {
        line.emplace_back(axes.X(point.m_dFrequencyHz), axes.Y(point.m_dGainDb));
    }
    plot += svg::Polyline(line, "stroke=\"#999\" stroke-width=\"1\"");
    double legendX = CAxes::kX0 + 10;
    for (std::size_t i = 0; i < result.m_spec.m_aValues.size(); ++i) {
        const char* colour = kColours[i % std::size(kColours)];
        for (const CMergedPoint& point : result.m_aMerged) {
            if (point.m_dFromFundamentalHz == result.m_spec.m_aValues[i]) {
                plot += "<circle cx=\"" + N(axes.X(point.m_dFrequencyHz)) + "\" cy=\"" +
                        N(axes.Y(point.m_dGainDb)) + "\" r=\"2.5\" fill=\"" + colour + "\"/>\n";
            }
        }
        plot += Legend(legendX, CAxes::kY0 + 16, colour,
                       "from f0 " + StepText(result.m_spec.m_aValues[i]) + " Hz");
        legendX += 150;
    }
    return plot + "</svg>\n";
}

std::string Cell(const std::optional<double>& value, int decimals) {
    return value && std::isfinite(*value) ? platform::FormatFigure(*value, decimals) : std::string("&ndash;");
}

} // namespace

std::string SweepHtml(const CSweepResult& result, const CVerdict* verdict, const CLimits* limits,
                      const CReportContext& context) {
    const bool level = result.m_spec.m_eKind == ESweepKind::Level;
    std::string html = PageStart(level ? "Level sweep" : "Fundamental sweep") + VerdictBanner(verdict);
    html += "<table class=\"meta\">\n";
    const auto meta = [&](const std::string& label, const std::string& value) {
        html += MetaRow(label, value);
    };
    meta("Measured", context.m_strWhen);
    meta("Devices", context.m_strDevices);
    meta("Settings", context.m_strSettings);
    meta("Steps", std::to_string(result.m_aSteps.size()) + (level ? " levels" : " fundamentals"));
    if (level) {
        meta("Lowest D+N",
             result.m_dBestLevelDb ? "at " + StepText(*result.m_dBestLevelDb) + " dB" : "no step measured");
        meta("D+N above " + platform::FormatGeneral15(result.m_dLimitDb) + " dB",
             result.m_dLimitLevelDb ? "first at " + StepText(*result.m_dLimitLevelDb) + " dB" : "at no step");
    }
    meta("Software", context.m_strVersion);
    html += "</table>\n";
    if (verdict != nullptr) {
        html += "<h2>Limits</h2>\n<table>\n<tr><th>Limit</th><th>Worst value</th><th>Bound</th><th>At "
                "step</th></tr>\n";
        for (const CJudgement& judged : verdict->m_aLimits) {
            html += std::string("<tr><td>") + platform::MarkupEscaped(judged.m_strName) +
                    "</td><td class=\"num" + (judged.m_bPass ? "" : " bad") + "\">" +
                    (std::isfinite(judged.m_dValue) ? platform::FormatFigure(judged.m_dValue, 2)
                                                    : "not measured") +
                    "</td><td>" + platform::MarkupEscaped(judged.m_strLimit) + "</td><td class=\"num\">" +
                    (judged.m_dWorstStep ? StepText(*judged.m_dWorstStep) : std::string()) + "</td></tr>\n";
        }
        html += "</table>\n";
    }
    if (level) {
        html += "<h2>Distortion against level</h2>\n" +
                LevelPlot(result, limits, {std::begin(kDistortionCurves), std::end(kDistortionCurves)},
                          "Against the stimulus (dB)", "distortion");
        html += "<h2>Gain against level</h2>\n" +
                LevelPlot(result, limits, {{"gain_db", "gain", "#1f5fa8"}}, "Gain (dB)", "gain");
    } else {
        html += "<h2>Merged response</h2>\n" + MergedPlot(result);
    }
    html += std::string("<h2>Steps</h2>\n<table>\n<tr><th>") + (level ? "Level (dB)" : "f0 (Hz)") +
            "</th><th>D+N (dB)</th><th>Even (dB)</th><th>Odd (dB)</th><th>Gain (dB)</th><th>Noise floor "
            "(dBFS)</th><th>Recording</th></tr>\n";
    for (const CSweepStep& step : result.m_aSteps) {
        html += "<tr><td class=\"num\">" + StepText(step.m_dValue) + "</td>";
        if (!step.m_outcome.m_report) {
            html += "<td colspan=\"5\" class=\"bad\">not measured: " +
                    platform::MarkupEscaped(step.m_outcome.Message()) + "</td>";
        } else {
            const analysis::CAnalysisReport& report = *step.m_outcome.m_report;
            for (const char* figure : {"distortion_noise_db", "even_order_db", "odd_order_db", "gain_db"}) {
                html += "<td class=\"num\">" +
                        Cell(SweepFigure(report, figure, result.m_dGainAtHz), figure[0] == 'g' ? 3 : 1) +
                        "</td>";
            }
            html += "<td class=\"num\">" + Cell(report.m_dNoiseFloorDbfs, 1) + "</td>";
        }
        html += "<td>" + platform::MarkupEscaped(step.m_strSource) + "</td></tr>\n";
    }
    return html + "</table>\n</body>\n</html>\n";
}

} // namespace instrument
