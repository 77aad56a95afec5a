#pragma once

#include <QPalette>
#include <QRectF>
#include <QString>
#include <functional>
#include <vector>

class QPainter;

// One axis of a plot: values from `From` to `To` laid onto pixels, evenly or on a logarithmic
// scale, and the ticks that label it (1, 2 and 5 times a power of ten).
class CPlotAxis {
public:
    enum class EScale { Linear, Logarithmic };
    struct CTick {
        double m_dValue;
        bool m_bLabelled; // a logarithmic axis has unlabelled ticks between its labelled ones
    };

    // A logarithmic axis needs 0 < from < to; a linear one from < to. `step`: a linear axis's ticks
    // every `step` (90 for degrees) instead of a step it chooses.
    CPlotAxis(EScale scale, double from, double to, double step = 0.0);

    double From() const { return m_dFrom; }
    double To() const { return m_dTo; }
    bool Logarithmic() const { return m_eScale == EScale::Logarithmic; }
    // The pixel of `value` on an axis drawn from pixel `first` (at From) to `last` (at To).
    double Pixel(double value, double first, double last) const;
    // The value at `pixel`, the inverse of Pixel.
    double Value(double pixel, double first, double last) const;
    // Ticks within the range, at most about `most` of them labelled: `most` labels fit side by side
    // over the axis's length.
    std::vector<CTick> Ticks(int most) const;

private:
    EScale m_eScale;
    double m_dFrom;
    double m_dTo;
    double m_dStep;
};

// How a tick's value reads: "20", "1k", "-90".
using CTickText = std::function<QString(double)>;

// A tick's label for frequencies in Hz: "500", "2k", "20k", "1.5k".
QString FrequencyTick(double hz);
// A plain number, without trailing zeros, never through the process locale.
QString NumberTick(double value);

// The largest of 1, 2 and 5 times a power of ten at or below `value` (> 0), and the smallest at or
// above it: the ends of a logarithmic axis around some data.
double NiceBelow(double value);
double NiceAbove(double value);

// One entry of a legend: a mark (a dot, or a line in a pen style) in a colour, and its text.
struct CLegendEntry {
    QString m_strText;
    QColor m_colour;
    Qt::PenStyle m_eLine = Qt::NoPen; // Qt::NoPen: a dot
};

// The rows of text a plot in `width` pixels needs above its data for `title` and a legend of
// `entries`: 1 when the legend fits beside the title, more when it wraps onto rows of its own.
int LegendRows(const QFont& font, double width, const QString& title,
               const std::vector<CLegendEntry>& entries);

// Draws `entries` right-aligned beside `title` at the top of `area`, wrapping onto the rows below as
// LegendRows counted them (DrawPlotFrame left them free).
void DrawLegend(QPainter& painter, const QRectF& area, const QPalette& palette, const QString& title,
                const std::vector<CLegendEntry>& entries);

// Draws a plot's background, frame, grid lines at the ticks, the ticks' labels and the axes'
// titles into `area` with the palette's colours, and returns the rectangle left for the data.
// `xLabels` false leaves out the x axis's labels and title (a plot stacked above another);
// `topRows` rows of text are left above the data (the y title's, and a legend's: LegendRows).
// `labelWidth`: the room for the y labels and title (PlotLabelWidth), the same for plots stacked on
// one x axis so that their data lines up; negative: this plot's own.
QRectF DrawPlotFrame(QPainter& painter, const QRectF& area, const QPalette& palette, const CPlotAxis& x,
                     const CPlotAxis& y, const CTickText& xText, const CTickText& yText,
                     const QString& xTitle, const QString& yTitle, bool xLabels = true, int topRows = 1,
                     double labelWidth = -1.0);
// The room a plot in `area` needs on its left for the y axis's labels and its title.
double PlotLabelWidth(const QFont& font, const QRectF& area, const CPlotAxis& y, const CTickText& yText,
                      const QString& yTitle);

// A colour of the palette's highlight with its hue turned by `degrees`: marks that must differ from
// the highlight yet keep its contrast against the plot's background, in light and dark themes.
QColor TurnedHighlight(const QPalette& palette, int degrees);
