#include "instrument/svg_plot.h"

#include <algorithm>
#include <cmath>

#include "platform/markup_text.h"
#include "platform/number_text.h"

namespace instrument::svg {

using platform::FormatDecimals;

double CAxes::X(double across) const {
    if (m_bLinearX) {
        return kX0 + (kX1 - kX0) * (across - m_dLeft) / (m_dRight - m_dLeft);
    }
    return kX0 + (kX1 - kX0) * std::log(across / m_dLeft) / std::log(m_dRight / m_dLeft);
}

double CAxes::Y(double value) const {
    const double clamped = std::clamp(value, m_dBottom, m_dTop);
    return kY1 - (kY1 - kY0) * (clamped - m_dBottom) / (m_dTop - m_dBottom);
}

std::string N(double value) {
    return FormatDecimals(value, 1);
}

std::string Frame(const CAxes& axes, const std::string& yLabel, double yStep, const std::string& xLabel) {
    std::string svg;
    svg += "<rect x=\"" + N(CAxes::kX0) + "\" y=\"" + N(CAxes::kY0) + "\" width=\"" +
           N(CAxes::kX1 - CAxes::kX0) + "\" height=\"" + N(CAxes::kY1 - CAxes::kY0) +
           "\" fill=\"#fff\" stroke=\"#444\"/>\n";
    const auto gridAt = [&](double across, const std::string& label) {
        const double x = axes.X(across);
        svg += "<line x1=\"" + N(x) + "\" y1=\"" + N(CAxes::kY0) + "\" x2=\"" + N(x) + "\" y2=\"" +
               N(CAxes::kY1) + "\" stroke=\"#ddd\"/>\n";
        svg += "<text x=\"" + N(x) + "\" y=\"" + N(CAxes::kY1 + 14) + "\" text-anchor=\"middle\">" + label +
               "</text>\n";
    };
    if (axes.m_bLinearX) {
        const double step = Step(axes.m_dRight - axes.m_dLeft);
        for (double across = std::ceil(axes.m_dLeft / step) * step; across <= axes.m_dRight + 1e-9;
             across += step) {
            gridAt(across, platform::FormatGeneral15(std::round(across * 100.0) / 100.0 + 0.0));
        }
    } else {
        for (double decade = 1.0; decade <= 1e6; decade *= 10.0) {
            for (const double step : {1.0, 2.0, 5.0}) {
                const double hz = decade * step;
                if (hz >= axes.m_dLeft && hz <= axes.m_dRight) {
                    gridAt(hz, hz >= 1000.0 ? FormatDecimals(hz / 1000.0, 0) + "k" : FormatDecimals(hz, 0));
                }
            }
        }
    }
    const double first = std::ceil(axes.m_dBottom / yStep) * yStep;
    for (double value = first; value <= axes.m_dTop + 1e-9; value += yStep) {
        const double y = axes.Y(value);
        svg += "<line x1=\"" + N(CAxes::kX0) + "\" y1=\"" + N(y) + "\" x2=\"" + N(CAxes::kX1) + "\" y2=\"" +
               N(y) + "\" stroke=\"#ddd\"/>\n";
        svg += "<text x=\"" + N(CAxes::kX0 - 4) + "\" y=\"" + N(y + 4) + "\" text-anchor=\"end\">" +
               platform::FormatGeneral15(std::round(value * 100.0) / 100.0 + 0.0) + "</text>\n"; // no "-0"
    }
    svg += "<text x=\"" + N((CAxes::kX0 + CAxes::kX1) / 2) + "\" y=\"" + N(CAxes::kY1 + 30) +
           "\" text-anchor=\"middle\">" + platform::MarkupEscaped(xLabel) + "</text>\n";
    svg += "<text transform=\"translate(14 " + N((CAxes::kY0 + CAxes::kY1) / 2) +
           ") rotate(-90)\" text-anchor=\"middle\">" + platform::MarkupEscaped(yLabel) + "</text>\n";
    return svg;
}

std::string Polyline(const std::vector<std::pair<double, double>>& points, const std::string& style) {
    std::string svg = "<polyline fill=\"none\" " + style + " points=\"";
    for (const auto& [x, y] : points) {
        svg += N(x) + "," + N(y) + " ";
    }
    return svg + "\"/>\n";
}

double Step(double span) {
    for (const double step : {0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0, 20.0, 50.0}) {
        if (span / step <= 8.0) {
            return step;
        }
    }
    return 100.0;
}

} // namespace instrument::svg
