#include "app/analysis/plot_axis.h"

#include <QColor>
#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "platform/number_text.h"

CPlotAxis::CPlotAxis(EScale scale, double from, double to, double step)
    : m_eScale(scale), m_dFrom(from), m_dTo(to), m_dStep(step) {}

double CPlotAxis::Pixel(double value, double first, double last) const {
    const double fraction = m_eScale == EScale::Logarithmic
                                ? std::log(value / m_dFrom) / std::log(m_dTo / m_dFrom)
                                : (value - m_dFrom) / (m_dTo - m_dFrom);
    return first + (last - first) * fraction;
}

double CPlotAxis::Value(double pixel, double first, double last) const {
    const double fraction = (pixel - first) / (last - first);
    return m_eScale == EScale::Logarithmic ? m_dFrom * std::pow(m_dTo / m_dFrom, fraction)
                                           : m_dFrom + (m_dTo - m_dFrom) * fraction;
}

std::vector<CPlotAxis::CTick> CPlotAxis::Ticks(int most) const {
    std::vector<CTick> ticks;
    if (!(m_dTo > m_dFrom) || most < 1) {
        return ticks;
    }
    if (m_eScale == EScale::Logarithmic) {
        // Every 1 .. 9 times a power of ten; 1, 2 and 5 labelled when a label fits between 1 and 2
        // (the closest pair, log10 2 of a decade apart), otherwise only 1.
        const int firstDecade = static_cast<int>(std::floor(std::log10(m_dFrom)));
        const int lastDecade = static_cast<int>(std::ceil(std::log10(m_dTo)));
        const double labelsPerDecade = most / std::log10(m_dTo / m_dFrom);
        const bool dense = labelsPerDecade * std::log10(2.0) >= 1.0;
        for (int decade = firstDecade; decade <= lastDecade; ++decade) {
            for (int multiple = 1; multiple <= 9; ++multiple) {
                const double value = multiple * std::pow(10.0, decade);
                if (value >= m_dFrom * (1 - 1e-9) && value <= m_dTo * (1 + 1e-9)) {
                    ticks.push_back({value, multiple == 1 || (dense && (multiple == 2 || multiple == 5))});
                }
            }
        }
        return ticks;
    }
    // The smallest step of 1, 2 or 5 times a power of ten that keeps the count within `most`.
    const double rough = (m_dTo - m_dFrom) / most;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = power;
    for (const double multiple : {1.0, 2.0, 5.0, 10.0}) {
        step = multiple * power;
        if (step >= rough) {
            break;
        }
    }
    if (m_dStep > 0.0) {
        step = m_dStep * std::max(1.0, std::ceil(rough / m_dStep));
    }
    for (double value = std::ceil(m_dFrom / step) * step; value <= m_dTo + step * 1e-9; value += step) {
        ticks.push_back({std::fabs(value) < step * 1e-9 ? 0.0 : value, true});
    }
    return ticks;
}

QString NumberTick(double value) {
    return QString::fromStdString(platform::FormatGeneral15(std::round(value * 1e6) / 1e6 + 0.0)); // no "-0"
}

double NiceBelow(double value) {
    const double power = std::pow(10.0, std::floor(std::log10(value)));
    for (const double multiple : {5.0, 2.0, 1.0}) {
        if (multiple * power <= value * (1 + 1e-12)) {
            return multiple * power;
        }
    }
    return power;
}

double NiceAbove(double value) {
    const double power = std::pow(10.0, std::floor(std::log10(value)));
    for (const double multiple : {1.0, 2.0, 5.0, 10.0}) {
        if (multiple * power >= value * (1 - 1e-12)) {
            return multiple * power;
        }
    }
    return 10.0 * power;
}

namespace {

constexpr double kMark = 16.0; // a legend mark's width
constexpr double kEntryGap = 12.0;

// The legend's entries in rows: each row's entries; the first row shares its line with the title.
std::vector<std::vector<std::size_t>> LegendLayout(const QFontMetricsF& metrics, double width,
                                                   const QString& title,
                                                   const std::vector<CLegendEntry>& entries) {
    std::vector<std::vector<std::size_t>> rows(1);
    double room = width - metrics.horizontalAdvance(title) - 16;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const double entry = kMark + 4 + metrics.horizontalAdvance(entries[i].m_strText) + kEntryGap;
        if (entry > room && !(rows.size() > 1 && rows.back().empty())) {
            rows.emplace_back();
            room = width;
        }
        rows.back().push_back(i);
        room -= entry;
    }
    return rows;
}

} // namespace

int LegendRows(const QFont& font, double width, const QString& title,
               const std::vector<CLegendEntry>& entries) {
    return static_cast<int>(LegendLayout(QFontMetricsF(font), width, title, entries).size());
}

void DrawLegend(QPainter& painter, const QRectF& area, const QPalette& palette, const QString& title,
                const std::vector<CLegendEntry>& entries) {
    const QFontMetricsF metrics(painter.font());
    const double line = metrics.height();
    const auto rows = LegendLayout(metrics, area.width(), title, entries);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        double width = 0.0;
        for (const std::size_t i : rows[r]) {
            width += kMark + 4 + metrics.horizontalAdvance(entries[i].m_strText) + kEntryGap;
        }
        double left = area.right() - width + kEntryGap;
        const double top = area.top() + line * static_cast<double>(r);
        for (const std::size_t i : rows[r]) {
            const CLegendEntry& entry = entries[i];
            const double middle = top + line / 2;
            if (entry.m_eLine == Qt::NoPen) {
                painter.setPen(entry.m_colour);
                painter.setBrush(entry.m_colour);
                painter.drawEllipse(QPointF(left + kMark / 2, middle), 3.0, 3.0);
            } else {
                painter.setPen(QPen(entry.m_colour, 2, entry.m_eLine));
                painter.drawLine(QPointF(left, middle), QPointF(left + kMark, middle));
            }
            painter.setPen(palette.color(QPalette::WindowText));
            const double text = metrics.horizontalAdvance(entry.m_strText);
            painter.drawText(QRectF(left + kMark + 4, top, text + 2, line), Qt::AlignVCenter,
                             entry.m_strText);
            left += kMark + 4 + text + kEntryGap;
        }
    }
}

QColor TurnedHighlight(const QPalette& palette, int degrees) {
    const QColor highlight = palette.color(QPalette::Highlight).toHsv();
    const int hue = highlight.hsvHue() < 0 ? 210 : highlight.hsvHue(); // a grey highlight: start from blue
    return QColor::fromHsv((hue + degrees) % 360, std::max(160, highlight.hsvSaturation()),
                           highlight.value());
}

QString FrequencyTick(double hz) {
    return hz >= 1000.0 ? NumberTick(hz / 1000.0) + QStringLiteral("k") : NumberTick(hz);
}

double PlotLabelWidth(const QFont& font, const QRectF& area, const CPlotAxis& y, const CTickText& yText,
                      const QString& yTitle) {
    const QFontMetricsF metrics(font);
    double labelWidth = metrics.horizontalAdvance(yTitle);
    for (const auto& tick :
         y.Ticks(std::max(2, static_cast<int>(area.height() / (2.2 * metrics.height()))))) {
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance(yText(tick.m_dValue)));
    }
    return labelWidth;
}

QRectF DrawPlotFrame(QPainter& painter, const QRectF& area, const QPalette& palette, const CPlotAxis& x,
                     const CPlotAxis& y, const CTickText& xText, const CTickText& yText,
                     const QString& xTitle, const QString& yTitle, bool xLabels, int topRows,
                     double labelWidth) {
    const QFontMetricsF metrics(painter.font());
    const double line = metrics.height();
    // Room on the left for the widest y label and the y title, below for the x labels and title.
    if (labelWidth < 0.0) {
        labelWidth = PlotLabelWidth(painter.font(), area, y, yText, yTitle);
    }
    const std::vector<CPlotAxis::CTick> yTicks =
        y.Ticks(std::max(2, static_cast<int>(area.height() / (2.2 * line))));
    const QRectF data =
        area.adjusted(labelWidth + 8, line * topRows + 4, -metrics.horizontalAdvance(QStringLiteral("00")),
                      xLabels ? -(2 * line + 4) : -4);
    painter.fillRect(data, palette.color(QPalette::Base));

    const QPen grid(palette.color(QPalette::Mid), 0, Qt::DotLine);
    const QPen text(palette.color(QPalette::WindowText));
    for (const auto& tick : yTicks) {
        const double at = y.Pixel(tick.m_dValue, data.bottom(), data.top());
        painter.setPen(grid);
        painter.drawLine(QPointF(data.left(), at), QPointF(data.right(), at));
        painter.setPen(text);
        painter.drawText(QRectF(area.left(), at - line / 2, labelWidth + 4, line),
                         Qt::AlignRight | Qt::AlignVCenter, yText(tick.m_dValue));
    }
    // As many x labels as fit side by side, each as wide as the widest and half a line apart: the
    // last on a linear axis, 2 of the last decade on a logarithmic one (its labels are 1, 2, 5).
    const double widest = x.Logarithmic() ? 2.0 * std::pow(10.0, std::floor(std::log10(x.To()))) : x.To();
    const double xLabelWidth = metrics.horizontalAdvance(xText(widest)) + line / 2;
    const std::vector<CPlotAxis::CTick> xTicks =
        x.Ticks(std::max(2, static_cast<int>(data.width() / xLabelWidth)));
    for (const auto& tick : xTicks) {
        const double at = x.Pixel(tick.m_dValue, data.left(), data.right());
        painter.setPen(tick.m_bLabelled ? grid : QPen(palette.color(QPalette::Midlight), 0, Qt::DotLine));
        painter.drawLine(QPointF(at, data.top()), QPointF(at, data.bottom()));
        if (xLabels && tick.m_bLabelled) {
            painter.setPen(text);
            painter.drawText(QRectF(at - 3 * line, data.bottom() + 2, 6 * line, line),
                             Qt::AlignHCenter | Qt::AlignTop, xText(tick.m_dValue));
        }
    }
    painter.setPen(text);
    painter.drawText(QRectF(area.left(), area.top(), area.width(), line), Qt::AlignLeft | Qt::AlignTop,
                     yTitle);
    if (xLabels) {
        painter.drawText(QRectF(data.left(), area.bottom() - line, data.width(), line),
                         Qt::AlignRight | Qt::AlignBottom, xTitle);
    }
    painter.setPen(QPen(palette.color(QPalette::Dark)));
    painter.drawRect(data);
    return data;
}
