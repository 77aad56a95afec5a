#include "app/analysis/sweep_plot.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "app/analysis/plot_axis.h"

namespace {

// The figure's points, ascending in the step's value.
std::vector<QPointF> Points(const instrument::CSweepResult& sweep, const char* figure) {
    std::vector<QPointF> points;
    for (const instrument::CSweepStep& step : sweep.m_aSteps) {
        if (step.m_outcome.m_report) {
            const auto value = instrument::SweepFigure(*step.m_outcome.m_report, figure, sweep.m_dGainAtHz);
            if (value && std::isfinite(*value)) {
                points.emplace_back(step.m_dValue, *value);
            }
        }
    }
    std::sort(points.begin(), points.end(), [](const QPointF& a, const QPointF& b) { return a.x() < b.x(); });
    return points;
}

// A linear axis over `low` to `high`, widened to round steps.
CPlotAxis LinearAround(double low, double high, double least) {
    if (!(high - low >= least)) {
        const double middle = (low + high) / 2.0;
        low = middle - least / 2.0;
        high = middle + least / 2.0;
    }
    // A round step that gives at most about eight grid lines.
    double step = 0.05;
    for (const double each : {0.05, 0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0, 20.0, 50.0}) {
        step = each;
        if ((high - low) / each <= 8.0) {
            break;
        }
    }
    return CPlotAxis(CPlotAxis::EScale::Linear, std::floor(low / step) * step, std::ceil(high / step) * step,
                     step);
}

void DrawCurve(QPainter& painter, const std::vector<QPointF>& points, const QColor& colour,
               const std::function<QPointF(const QPointF&)>& place) {
    QPainterPath path;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const QPointF at = place(points[i]);
        i == 0 ? path.moveTo(at) : path.lineTo(at);
    }
    painter.setPen(QPen(colour, 1.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
    painter.setBrush(colour);
    for (const QPointF& point : points) {
        painter.drawEllipse(place(point), 2.5, 2.5);
    }
}

} // namespace

CSweepPlot::CSweepPlot(QWidget* parent) : QWidget(parent) {
    setMinimumSize(320, 240);
}

void CSweepPlot::SetSweep(const instrument::CSweepResult& sweep) {
    m_sweep = sweep;
    update();
}

void CSweepPlot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    if (m_sweep.m_aSteps.empty()) {
        return;
    }
    if (m_sweep.m_spec.m_eKind == instrument::ESweepKind::Level) {
        PaintLevels(painter);
    } else {
        PaintMerged(painter);
    }
}

void CSweepPlot::PaintLevels(QPainter& painter) {
    const QPalette& colours = palette();
    const auto [first, last] =
        std::minmax_element(m_sweep.m_spec.m_aValues.begin(), m_sweep.m_spec.m_aValues.end());
    const CPlotAxis level = LinearAround(*first, *last, 1.0);
    struct CCurve {
        const char* m_szFigure;
        QString m_strName;
        QColor m_colour;
    };
    const std::vector<CCurve> curves = {
        {"distortion_noise_db", QStringLiteral("D+N"), colours.color(QPalette::Highlight)},
        {"even_order_db", QStringLiteral("even order"), TurnedHighlight(colours, 120)},
        {"odd_order_db", QStringLiteral("odd order"), TurnedHighlight(colours, 240)}};
    double low = m_sweep.m_dLimitDb, high = m_sweep.m_dLimitDb;
    for (const CCurve& curve : curves) {
        for (const QPointF& point : Points(m_sweep, curve.m_szFigure)) {
            low = std::min(low, point.y());
            high = std::max(high, point.y());
        }
    }
    const CPlotAxis distortion = LinearAround(low, high, 10.0);
    std::vector<CLegendEntry> legend;
    for (const CCurve& curve : curves) {
        legend.push_back({curve.m_strName, curve.m_colour, Qt::SolidLine});
    }
    legend.push_back({QStringLiteral("limit"), colours.color(QPalette::WindowText), Qt::DotLine});
    const QRectF area = QRectF(rect()).adjusted(4, 2, -4, -2);
    const QRectF upper(area.left(), area.top(), area.width(), area.height() * 0.62);
    const QRectF lower(area.left(), upper.bottom() + 4, area.width(), area.bottom() - upper.bottom() - 4);
    const QString title = QStringLiteral("Distortion (dB)");
    const std::vector<QPointF> gains = Points(m_sweep, "gain_db");
    double gainLow = 0.0, gainHigh = 0.0;
    for (const QPointF& point : gains) {
        gainLow = std::min(gainLow, point.y());
        gainHigh = std::max(gainHigh, point.y());
    }
    const CPlotAxis gain = LinearAround(gainLow, gainHigh, 0.2);
    const QString gainTitle = QStringLiteral("Gain (dB)");
    // One level axis: both plots leave the same room on the left.
    const double labelWidth = std::max(PlotLabelWidth(painter.font(), upper, distortion, NumberTick, title),
                                       PlotLabelWidth(painter.font(), lower, gain, NumberTick, gainTitle));
    const QRectF top =
        DrawPlotFrame(painter, upper, colours, level, distortion, NumberTick, NumberTick, QString(), title,
                      false, LegendRows(painter.font(), upper.width(), title, legend), labelWidth);
    DrawLegend(painter, upper, colours, title, legend);
    const auto place = [&](const CPlotAxis& y, const QRectF& data) {
        return [&, data](const QPointF& point) {
            return QPointF(level.Pixel(point.x(), data.left(), data.right()),
                           y.Pixel(std::clamp(point.y(), y.From(), y.To()), data.bottom(), data.top()));
        };
    };
    painter.save();
    painter.setClipRect(top.adjusted(-4, -4, 4, 4));
    painter.setPen(QPen(colours.color(QPalette::WindowText), 1, Qt::DotLine));
    const double limitY = distortion.Pixel(m_sweep.m_dLimitDb, top.bottom(), top.top());
    painter.drawLine(QPointF(top.left(), limitY), QPointF(top.right(), limitY));
    for (const CCurve& curve : curves) {
        DrawCurve(painter, Points(m_sweep, curve.m_szFigure), curve.m_colour, place(distortion, top));
    }
    for (const auto& [value, name] : {std::pair{m_sweep.m_dBestLevelDb, QStringLiteral("best")},
                                      std::pair{m_sweep.m_dLimitLevelDb, QStringLiteral("limit")}}) {
        if (value) {
            const double x = level.Pixel(*value, top.left(), top.right());
            painter.setPen(QPen(TurnedHighlight(colours, 60), 1, Qt::DashLine));
            painter.drawLine(QPointF(x, top.top()), QPointF(x, top.bottom()));
            painter.drawText(
                QPointF(x + 3, name == QStringLiteral("best") ? top.bottom() - 4 : top.top() + 14),
                QStringLiteral("%1 %2 dB").arg(name, NumberTick(*value)));
        }
    }
    painter.restore();
    const QRectF bottom = DrawPlotFrame(painter, lower, colours, level, gain, NumberTick, NumberTick,
                                        QStringLiteral("Level (dB against the settings' amplitude)"),
                                        gainTitle, true, 1, labelWidth);
    painter.save();
    painter.setClipRect(bottom.adjusted(-4, -4, 4, 4));
    DrawCurve(painter, gains, colours.color(QPalette::Highlight), place(gain, bottom));
    painter.restore();
}

void CSweepPlot::PaintMerged(QPainter& painter) {
    const QPalette& colours = palette();
    if (m_sweep.m_aMerged.empty()) {
        painter.setPen(colours.color(QPalette::WindowText));
        painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("No step was measured."));
        return;
    }
    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (const instrument::CMergedPoint& point : m_sweep.m_aMerged) {
        low = std::min(low, point.m_dGainDb);
        high = std::max(high, point.m_dGainDb);
    }
    const CPlotAxis frequency(CPlotAxis::EScale::Logarithmic,
                              NiceBelow(m_sweep.m_aMerged.front().m_dFrequencyHz),
                              NiceAbove(m_sweep.m_aMerged.back().m_dFrequencyHz));
    const CPlotAxis gain = LinearAround(low, high, 1.0);
    std::vector<CLegendEntry> legend;
    const auto colourOf = [&](std::size_t i) {
        return i == 0 ? colours.color(QPalette::Highlight)
                      : TurnedHighlight(colours, static_cast<int>(120 * i));
    };
    for (std::size_t i = 0; i < m_sweep.m_spec.m_aValues.size(); ++i) {
        legend.push_back(
            {QStringLiteral("from f0 %1 Hz").arg(NumberTick(m_sweep.m_spec.m_aValues[i])), colourOf(i)});
    }
    const QString title = QStringLiteral("Merged response: gain (dB)");
    const QRectF area = QRectF(rect()).adjusted(4, 2, -4, -2);
    const QRectF data = DrawPlotFrame(painter, area, colours, frequency, gain, FrequencyTick, NumberTick,
                                      QStringLiteral("Frequency (Hz)"), title, true,
                                      LegendRows(painter.font(), area.width(), title, legend));
    DrawLegend(painter, area, colours, title, legend);
    const auto place = [&](double hz, double db) {
        return QPointF(frequency.Pixel(hz, data.left(), data.right()),
                       gain.Pixel(db, data.bottom(), data.top()));
    };
    painter.save();
    painter.setClipRect(data.adjusted(-4, -4, 4, 4));
    QPainterPath path;
    for (std::size_t i = 0; i < m_sweep.m_aMerged.size(); ++i) {
        const QPointF at = place(m_sweep.m_aMerged[i].m_dFrequencyHz, m_sweep.m_aMerged[i].m_dGainDb);
        i == 0 ? path.moveTo(at) : path.lineTo(at);
    }
    painter.setPen(QPen(colours.color(QPalette::Mid), 1));
    painter.drawPath(path);
    painter.setPen(Qt::NoPen);
    for (const instrument::CMergedPoint& point : m_sweep.m_aMerged) {
        const auto which = std::find(m_sweep.m_spec.m_aValues.begin(), m_sweep.m_spec.m_aValues.end(),
                                     point.m_dFromFundamentalHz) -
                           m_sweep.m_spec.m_aValues.begin();
        painter.setBrush(colourOf(static_cast<std::size_t>(which)));
        painter.drawEllipse(place(point.m_dFrequencyHz, point.m_dGainDb), 2.5, 2.5);
    }
    painter.restore();
}
