#pragma once

#include <string>
#include <utility>
#include <vector>

// The pieces of the report pages' inline SVG plots: a frame with its grid and labels, and curves.
namespace instrument::svg {

// A plot's frame in SVG user units: a log-frequency axis across (or a linear one), a linear one up.
struct CAxes {
    double m_dLeft, m_dRight, m_dBottom, m_dTop;
    bool m_bLinearX = false; // a linear axis across (a level in dB) rather than log-frequency
    static constexpr double kX0 = 60, kX1 = 700, kY0 = 20, kY1 = 260; // the plotting area
    double X(double across) const;
    double Y(double value) const; // clamped to the frame
};

// A coordinate to one decimal, as the plots write them.
std::string N(double value);

// The frame, its grid (at 1-2-5 decades in frequency, or round steps across a linear axis; round
// `yStep`s up) and the axes' labels.
std::string Frame(const CAxes& axes, const std::string& yLabel, double yStep,
                  const std::string& xLabel = "Frequency (Hz)");

// Points already in plot units, joined.
std::string Polyline(const std::vector<std::pair<double, double>>& points, const std::string& style);

// A round step that gives about five grid lines over `span`.
double Step(double span);

} // namespace instrument::svg
