#include "app/analysis/response_plot.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <algorithm>
#include <cmath>

#include "app/analysis/plot_axis.h"
#include "platform/number_text.h"

namespace {

// Pixels within which the pointer is over a point.
constexpr double kHoverPixels = 8.0;

QString Fixed(double value, int decimals) {
    return QString::fromStdString(platform::FormatFigure(value, decimals));
}

QString Db(double value) {
    return QStringLiteral("%1 dB").arg(NumberTick(value));
}

QString Degrees(double value) {
    return QStringLiteral("%1°").arg(NumberTick(value));
}

} // namespace

CResponsePlot::CResponsePlot(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setMinimumSize(320, 240);
}

void CResponsePlot::SetCurves(std::vector<CCurve> curves, double topHz) {
    m_aCurves = std::move(curves);
    // Each curve's phases unwrapped from its first point on: from one tone to the next the phase
    // turns by the delay's -360 f tau and what the device adds, taken as the shorter way round (a
    // delay turns neighbouring tones by many half turns); the phase axis in whole quadrants about
    // them, at least -180 to 180; the group delay's about its values.
    double phaseLow = -180.0, phaseHigh = 180.0, delayLow = 1e300, delayHigh = -1e300;
    for (CCurve& curve : m_aCurves) {
        for (std::size_t i = 0; i < curve.m_aPoints.size(); ++i) {
            CPoint& point = curve.m_aPoints[i];
            if (i == 0) {
                point.m_dUnwrappedDeg = point.m_dPhaseDeg;
            } else {
                const CPoint& before = curve.m_aPoints[i - 1];
                const double delayStep =
                    -360.0 * (point.m_dFrequencyHz - before.m_dFrequencyHz) * curve.m_dDelayMs / 1000.0;
                const double step = point.m_dPhaseDeg - before.m_dPhaseDeg;
                point.m_dUnwrappedDeg = before.m_dUnwrappedDeg + delayStep +
                                        (step - delayStep - 360.0 * std::round((step - delayStep) / 360.0));
            }
            phaseLow = std::min(phaseLow, point.m_dUnwrappedDeg);
            phaseHigh = std::max(phaseHigh, point.m_dUnwrappedDeg);
            if (std::isfinite(point.m_dGroupDelayMs)) {
                delayLow = std::min(delayLow, point.m_dGroupDelayMs);
                delayHigh = std::max(delayHigh, point.m_dGroupDelayMs);
            }
        }
    }
    m_dPhaseLow = 90.0 * std::floor(phaseLow / 90.0);
    m_dPhaseHigh = 90.0 * std::ceil(phaseHigh / 90.0);
    if (delayLow > delayHigh) {
        delayLow = delayHigh = 0.0;
    }
    const double delaySpan = std::max(delayHigh - delayLow, 0.01);
    m_dDelayLow = delayLow - 0.1 * delaySpan;
    m_dDelayHigh = delayHigh + 0.1 * delaySpan;
    // A frequency range of whole decades around every point, and a gain range around every gain
    // and 0 dB, at least 1 dB either side.
    double low = 1e300, high = 0.0, gainLow = -1.0, gainHigh = 1.0;
    for (const CCurve& curve : m_aCurves) {
        for (const CPoint& point : curve.m_aPoints) {
            if (point.m_dFrequencyHz > 0.0) {
                low = std::min(low, point.m_dFrequencyHz);
                high = std::max(high, point.m_dFrequencyHz);
            }
            if (std::isfinite(point.m_dGainDb)) {
                gainLow = std::min(gainLow, point.m_dGainDb);
                gainHigh = std::max(gainHigh, point.m_dGainDb);
            }
        }
    }
    m_dLowHz = high > 0.0 ? NiceBelow(low) : 20.0;
    m_dHighHz = high > 0.0 ? NiceAbove(high) : 20000.0;
    if (topHz > high && topHz < m_dHighHz) {
        m_dHighHz = topHz; // a third of a 44.1 kHz file's decade would be empty
    }
    const double span = gainHigh - gainLow;
    m_dGainLow = std::floor(gainLow - 0.05 * span);
    m_dGainHigh = std::ceil(gainHigh + 0.05 * span);
    update();
}

void CResponsePlot::SetMasks(std::vector<CMaskCurve> masks) {
    m_aMasks = std::move(masks);
    update();
}

void CResponsePlot::SetLower(ELower lower) {
    m_eLower = lower;
    update();
}

CPlotAxis CResponsePlot::LowerAxis() const {
    if (m_eLower == ELower::GroupDelay) {
        return CPlotAxis(CPlotAxis::EScale::Linear, m_dDelayLow, m_dDelayHigh);
    }
    // Ticks every quadrant, or every half turn or turn where the phase runs over many.
    const double span = m_dPhaseHigh - m_dPhaseLow;
    return CPlotAxis(CPlotAxis::EScale::Linear, m_dPhaseLow, m_dPhaseHigh,
                     span <= 720.0    ? 90.0
                     : span <= 1440.0 ? 180.0
                                      : 90.0 * std::ceil(span / 1440.0) * 2.0);
}

double CResponsePlot::LowerValue(const CPoint& point) const {
    return m_eLower == ELower::GroupDelay ? point.m_dGroupDelayMs : point.m_dUnwrappedDeg;
}

QColor CResponsePlot::CurveColour(std::size_t index) const {
    // The highlight, then hues turned from it, so every curve keeps the highlight's contrast.
    return index == 0 ? palette().color(QPalette::Highlight)
                      : TurnedHighlight(palette(), static_cast<int>(137 * index));
}

void CResponsePlot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& colours = palette();
    painter.fillRect(rect(), colours.color(QPalette::Window));
    const CPlotAxis frequency(CPlotAxis::EScale::Logarithmic, m_dLowHz, m_dHighHz);
    const CPlotAxis gain(CPlotAxis::EScale::Linear, m_dGainLow, m_dGainHigh);
    const CPlotAxis phase = LowerAxis();
    const QRectF all = QRectF(rect()).adjusted(4, 2, -4, -2);
    const QRectF top(all.left(), all.top(), all.width(), all.height() * 0.58);
    const QRectF bottom(all.left(), top.bottom() + 4, all.width(), all.bottom() - top.bottom() - 4);
    std::vector<CLegendEntry> legend; // the curves, once there is more than one
    for (std::size_t c = 0; c < m_aCurves.size() && m_aCurves.size() > 1; ++c) {
        legend.push_back({m_aCurves[c].m_strName, CurveColour(c), Qt::SolidLine});
    }
    const QString gainTitle = QStringLiteral("Gain (dB)");
    const QString lowerTitle = m_eLower == ELower::GroupDelay ? QStringLiteral("Group delay (ms)")
                                                              : QStringLiteral("Phase (degrees)");
    // One frequency axis: both plots leave the same room on the left, so a tone is at one x in both.
    const double labelWidth = std::max(PlotLabelWidth(painter.font(), top, gain, NumberTick, gainTitle),
                                       PlotLabelWidth(painter.font(), bottom, phase, NumberTick, lowerTitle));
    m_gainRect =
        DrawPlotFrame(painter, top, colours, frequency, gain, FrequencyTick, NumberTick, QString(), gainTitle,
                      false, LegendRows(painter.font(), top.width(), gainTitle, legend), labelWidth);
    m_phaseRect = DrawPlotFrame(painter, bottom, colours, frequency, phase, FrequencyTick, NumberTick,
                                QStringLiteral("Frequency (Hz)"), lowerTitle, true, 1, labelWidth);
    const auto x = [&](double hz) { return frequency.Pixel(hz, m_gainRect.left(), m_gainRect.right()); };
    const auto yGain = [&](double db) { return gain.Pixel(db, m_gainRect.bottom(), m_gainRect.top()); };
    const auto yPhase = [&](double degrees) {
        return phase.Pixel(degrees, m_phaseRect.bottom(), m_phaseRect.top());
    };
    painter.setPen(QPen(colours.color(QPalette::WindowText), 1, Qt::DashLine));
    painter.drawLine(QPointF(m_gainRect.left(), yGain(0.0)), QPointF(m_gainRect.right(), yGain(0.0)));

    painter.setRenderHint(QPainter::Antialiasing);
    for (std::size_t c = m_aCurves.size(); c-- > 0;) { // the recording's own curve on top
        const CCurve& curve = m_aCurves[c];
        const QColor colour = CurveColour(c);
        QPainterPath gains, phases;
        bool first = true, firstLower = true;
        for (const CPoint& point : curve.m_aPoints) {
            if (!std::isfinite(point.m_dGainDb)) {
                continue;
            }
            const QPointF g(x(point.m_dFrequencyHz), yGain(point.m_dGainDb));
            first ? gains.moveTo(g) : gains.lineTo(g);
            first = false;
            if (std::isfinite(LowerValue(point))) {
                const QPointF p(x(point.m_dFrequencyHz), yPhase(LowerValue(point)));
                firstLower ? phases.moveTo(p) : phases.lineTo(p);
                firstLower = false;
            }
        }
        painter.setPen(QPen(colour, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(gains);
        painter.drawPath(phases);
        painter.setBrush(colour);
        for (const CPoint& point : curve.m_aPoints) {
            if (std::isfinite(point.m_dGainDb)) {
                painter.drawEllipse(QPointF(x(point.m_dFrequencyHz), yGain(point.m_dGainDb)), 2.5, 2.5);
            }
            if (std::isfinite(point.m_dGainDb) && std::isfinite(LowerValue(point))) {
                painter.drawEllipse(QPointF(x(point.m_dFrequencyHz), yPhase(LowerValue(point))), 2.0, 2.0);
            }
        }
    }
    // The masks, dashed in the text's colour: straight between points on the log axis, as they are
    // interpolated; relative ones about the first curve's value at their frequency.
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(colours.color(QPalette::WindowText), 1.2, Qt::DashDotLine));
    for (const CMaskCurve& mask : m_aMasks) {
        const bool onGain = mask.m_strFigure == "gain_db";
        const bool onLower = (mask.m_strFigure == "phase_deg" && m_eLower == ELower::Phase) ||
                             (mask.m_strFigure == "group_delay_ms" && m_eLower == ELower::GroupDelay);
        if ((!onGain && !onLower) || m_aCurves.empty()) {
            continue;
        }
        double offset = 0.0;
        if (mask.m_dRelativeToHz) {
            const auto& points = m_aCurves.front().m_aPoints;
            for (std::size_t i = 1; i < points.size(); ++i) {
                if (points[i - 1].m_dFrequencyHz <= *mask.m_dRelativeToHz &&
                    *mask.m_dRelativeToHz <= points[i].m_dFrequencyHz) {
                    const auto value = [&](const CPoint& p) { return onGain ? p.m_dGainDb : LowerValue(p); };
                    const double t = std::log(*mask.m_dRelativeToHz / points[i - 1].m_dFrequencyHz) /
                                     std::log(points[i].m_dFrequencyHz / points[i - 1].m_dFrequencyHz);
                    offset = value(points[i - 1]) + t * (value(points[i]) - value(points[i - 1]));
                }
            }
        }
        painter.setClipRect(onGain ? m_gainRect : m_phaseRect);
        for (const auto* curve : {&mask.m_aUpper, &mask.m_aLower}) {
            QPainterPath path;
            for (std::size_t i = 0; i < curve->size(); ++i) {
                const QPointF at(x(std::clamp((*curve)[i].first, m_dLowHz, m_dHighHz)),
                                 onGain ? yGain((*curve)[i].second + offset)
                                        : yPhase((*curve)[i].second + offset));
                i == 0 ? path.moveTo(at) : path.lineTo(at);
            }
            painter.drawPath(path);
        }
        painter.setClipping(false);
    }
    DrawLegend(painter, top, colours, gainTitle, legend);
}

QString CResponsePlot::HoverText(const QPoint& position) const {
    if (m_gainRect.isEmpty()) {
        return {};
    }
    const CPlotAxis frequency(CPlotAxis::EScale::Logarithmic, m_dLowHz, m_dHighHz);
    const CPlotAxis gain(CPlotAxis::EScale::Linear, m_dGainLow, m_dGainHigh);
    const CPlotAxis phase = LowerAxis();
    double best = kHoverPixels;
    QString text;
    for (const CCurve& curve : m_aCurves) {
        for (const CPoint& point : curve.m_aPoints) {
            const double px = frequency.Pixel(point.m_dFrequencyHz, m_gainRect.left(), m_gainRect.right());
            for (const QPointF at :
                 {QPointF(px, gain.Pixel(point.m_dGainDb, m_gainRect.bottom(), m_gainRect.top())),
                  QPointF(px, phase.Pixel(LowerValue(point), m_phaseRect.bottom(), m_phaseRect.top()))}) {
                const double distance = std::hypot(at.x() - position.x(), at.y() - position.y());
                if (distance < best) {
                    best = distance;
                    text = QStringLiteral("%1\n%2 Hz: level %3 dBFS, gain %4, phase %5")
                               .arg(curve.m_strName, Fixed(point.m_dFrequencyHz, 2),
                                    Fixed(point.m_dLevelDbfs, 2), Db(std::round(point.m_dGainDb * 1e4) / 1e4),
                                    Degrees(std::round(point.m_dPhaseDeg * 100) / 100));
                    if (std::isfinite(point.m_dGroupDelayMs)) {
                        text += QStringLiteral(", group delay %1 ms").arg(Fixed(point.m_dGroupDelayMs, 4));
                    }
                }
            }
        }
    }
    return text;
}

void CResponsePlot::mouseMoveEvent(QMouseEvent* event) {
    const QString text = HoverText(event->position().toPoint());
    if (text.isEmpty()) {
        QToolTip::hideText();
    } else {
        QToolTip::showText(event->globalPosition().toPoint(), text, this);
    }
}
