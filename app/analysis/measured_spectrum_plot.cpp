#include "app/analysis/measured_spectrum_plot.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <algorithm>
#include <cmath>

#include "analysis/analysis_report.h"
#include "app/analysis/plot_axis.h"
#include "platform/number_text.h"

namespace {

constexpr double kHoverPixels = 6.0;

QString Fixed(double value, int decimals) {
    return QString::fromStdString(platform::FormatFigure(value, decimals));
}

} // namespace

CMeasuredSpectrumPlot::CMeasuredSpectrumPlot(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setMinimumSize(320, 180);
}

void CMeasuredSpectrumPlot::SetReport(const analysis::CAnalysisReport& report) {
    m_aSpectrumDbfs = report.m_aLeftSpectrumDbfs;
    m_dBinHz = report.m_dBinHz;
    m_dHalfRateHz = report.m_dSampleRateHz / 2.0;
    m_dBandLimitHz = report.m_dBandLimitHz;
    m_dNoiseDbfs = report.m_dNoisePerBinDbfs;
    m_aLines.clear();
    for (const analysis::CToneResult& tone : report.m_aTones) {
        const QString name = tone.m_eKind == analysis::EToneKind::Harmonic
                                 ? QStringLiteral("harmonic %1").arg(tone.m_nNumber)
                                 : QStringLiteral("daughter %1, %2")
                                       .arg(tone.m_nNumber)
                                       .arg(tone.m_eSide == analysis::ESide::Lower ? "fc - f0" : "fc + f0");
        m_aLines.push_back({ELine::Stimulus, tone.m_dFrequencyHz, tone.m_dLevelDbfs, tone.m_dGainDb,
                            tone.m_dPhaseDeg, name});
    }
    for (const analysis::CLineResult& line : report.m_aLines) {
        m_aLines.push_back({line.Even() ? ELine::Even : ELine::Odd, line.m_dFrequencyHz, line.m_dLevelDbfs,
                            0.0, 0.0,
                            QStringLiteral("%1 detection line %2 x f0")
                                .arg(line.Even() ? "even" : "odd")
                                .arg(line.m_nNumber)});
    }
    // The level axis reaches 10 dB below the lowest of the noise floor and the lines, in steps of 20.
    double lowest = m_dNoiseDbfs.value_or(-120.0);
    for (const CLine& line : m_aLines) {
        if (std::isfinite(line.m_dLevelDbfs)) {
            lowest = std::min(lowest, line.m_dLevelDbfs);
        }
    }
    m_dFloorDb = std::max(-240.0, 20.0 * std::floor((lowest - 10.0) / 20.0));
    update();
}

QColor CMeasuredSpectrumPlot::LineColour(ELine kind) const {
    return kind == ELine::Stimulus ? palette().color(QPalette::Highlight)
                                   : TurnedHighlight(palette(), kind == ELine::Even ? 120 : 240);
}

void CMeasuredSpectrumPlot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& colours = palette();
    painter.fillRect(rect(), colours.color(QPalette::Window));
    if (!(m_dHalfRateHz > 0.0)) {
        return;
    }
    const CPlotAxis frequency(CPlotAxis::EScale::Linear, 0.0, m_dHalfRateHz);
    const CPlotAxis level(CPlotAxis::EScale::Linear, m_dFloorDb, 0.0, 20.0);
    const std::vector<CLegendEntry> legend = {
        {QStringLiteral("stimulus"), LineColour(ELine::Stimulus)},
        {QStringLiteral("even lines"), LineColour(ELine::Even)},
        {QStringLiteral("odd lines"), LineColour(ELine::Odd)},
        {QStringLiteral("noise per bin"), colours.color(QPalette::WindowText), Qt::DashLine},
        {QStringLiteral("band limit"), colours.color(QPalette::WindowText), Qt::DotLine}};
    const QString title = QStringLiteral("Left channel (dBFS)");
    const QRectF area = QRectF(rect()).adjusted(4, 2, -4, -2);
    m_dataRect = DrawPlotFrame(painter, area, colours, frequency, level, FrequencyTick, NumberTick,
                               QStringLiteral("Frequency (Hz)"), title, true,
                               LegendRows(painter.font(), area.width(), title, legend));
    DrawLegend(painter, area, colours, title, legend);
    const auto x = [&](double hz) { return frequency.Pixel(hz, m_dataRect.left(), m_dataRect.right()); };
    const auto y = [&](double db) {
        return level.Pixel(std::clamp(db, m_dFloorDb, 0.0), m_dataRect.bottom(), m_dataRect.top());
    };
    painter.save();
    painter.setClipRect(m_dataRect);
    // The spectrum, one column of pixels at a time: the highest bin that falls in it.
    QPainterPath trace;
    const auto columns = static_cast<int>(m_dataRect.width());
    for (int column = 0; column < columns && !m_aSpectrumDbfs.empty(); ++column) {
        const double from =
            frequency.Value(m_dataRect.left() + column, m_dataRect.left(), m_dataRect.right());
        const double to =
            frequency.Value(m_dataRect.left() + column + 1, m_dataRect.left(), m_dataRect.right());
        const auto first = static_cast<std::size_t>(std::max(0.0, std::floor(from / m_dBinHz)));
        const auto last =
            std::min(m_aSpectrumDbfs.size() - 1, static_cast<std::size_t>(std::ceil(to / m_dBinHz)));
        float highest = -1e30f;
        for (std::size_t k = first; k <= last && k < m_aSpectrumDbfs.size(); ++k) {
            highest = std::max(highest, m_aSpectrumDbfs[k]);
        }
        const QPointF at(m_dataRect.left() + column + 0.5, y(std::isfinite(highest) ? highest : m_dFloorDb));
        column == 0 ? trace.moveTo(at) : trace.lineTo(at);
    }
    painter.setPen(QPen(colours.color(QPalette::Text), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(trace);
    // The band limit, and the noise floor per bin.
    painter.setPen(QPen(colours.color(QPalette::WindowText), 1, Qt::DotLine));
    painter.drawLine(QPointF(x(m_dBandLimitHz), m_dataRect.top()),
                     QPointF(x(m_dBandLimitHz), m_dataRect.bottom()));
    if (m_dNoiseDbfs) {
        painter.setPen(QPen(colours.color(QPalette::WindowText), 1, Qt::DashLine));
        painter.drawLine(QPointF(m_dataRect.left(), y(*m_dNoiseDbfs)),
                         QPointF(m_dataRect.right(), y(*m_dNoiseDbfs)));
    }
    // The lines: a mark at each one's level.
    painter.setRenderHint(QPainter::Antialiasing);
    for (const CLine& line : m_aLines) {
        const QColor colour = LineColour(line.m_eKind);
        painter.setPen(QPen(colour, 1));
        painter.setBrush(colour);
        const QPointF at(x(line.m_dFrequencyHz), y(line.m_dLevelDbfs));
        if (line.m_eKind == ELine::Stimulus) {
            painter.drawEllipse(at, 3.0, 3.0);
        } else {
            painter.drawPolygon(QPolygonF(
                {at + QPointF(0, -4), at + QPointF(4, 0), at + QPointF(0, 4), at + QPointF(-4, 0)}));
        }
    }
    painter.restore();
}

QString CMeasuredSpectrumPlot::HoverText(const QPoint& position) const {
    if (m_dataRect.isEmpty()) {
        return {};
    }
    const CPlotAxis frequency(CPlotAxis::EScale::Linear, 0.0, m_dHalfRateHz);
    const CPlotAxis level(CPlotAxis::EScale::Linear, m_dFloorDb, 0.0);
    double best = kHoverPixels;
    const CLine* nearest = nullptr;
    for (const CLine& line : m_aLines) {
        const QPointF at(frequency.Pixel(line.m_dFrequencyHz, m_dataRect.left(), m_dataRect.right()),
                         level.Pixel(std::clamp(line.m_dLevelDbfs, m_dFloorDb, 0.0), m_dataRect.bottom(),
                                     m_dataRect.top()));
        const double distance = std::hypot(at.x() - position.x(), at.y() - position.y());
        if (distance < best) {
            best = distance;
            nearest = &line;
        }
    }
    if (nearest == nullptr) {
        return {};
    }
    QString text =
        QStringLiteral("%1: %2 Hz, level %3 dBFS")
            .arg(nearest->m_strName, Fixed(nearest->m_dFrequencyHz, 2), Fixed(nearest->m_dLevelDbfs, 2));
    if (nearest->m_eKind == ELine::Stimulus) {
        text += QStringLiteral(", gain %1 dB, phase %2°")
                    .arg(Fixed(nearest->m_dGainDb, 4), Fixed(nearest->m_dPhaseDeg, 2));
    }
    return text;
}

void CMeasuredSpectrumPlot::mouseMoveEvent(QMouseEvent* event) {
    const QString text = HoverText(event->position().toPoint());
    if (text.isEmpty()) {
        QToolTip::hideText();
    } else {
        QToolTip::showText(event->globalPosition().toPoint(), text, this);
    }
}
