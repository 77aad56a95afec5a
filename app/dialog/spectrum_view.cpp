#include "app/dialog/spectrum_view.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {
constexpr double kFloorDb = -96.0; // the bottom of the scale: 16-bit quantization

// The frequency a component at `frequency` sounds at when sampled at `rate`, in [0, rate / 2].
double Folded(double frequency, double rate) {
    double f = std::fmod(std::fabs(frequency), rate);
    return f > rate / 2.0 ? rate - f : f;
}
} // namespace

CSpectrumView::CSpectrumView(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CSpectrumView::SetPlan(const CJobPlan& plan) {
    m_aStems.clear();
    m_dHalfRateHz = plan.m_dHalfRateHz;
    m_dBandLimitHz = plan.m_dBandLimitHz;
    const double rate = 2.0 * plan.m_dHalfRateHz;
    const auto add = [&](double frequency, double amplitude, bool reference) {
        if (!(rate > 0.0) || !std::isfinite(frequency) || amplitude == 0.0) {
            return;
        }
        const bool aliased = !(std::fabs(frequency) < plan.m_dHalfRateHz);
        m_aStems.push_back({Folded(frequency, rate), DecibelsFullScale(amplitude), reference, aliased});
    };
    for (const CPlannedHarmonic& harmonic : plan.m_aHarmonics) {
        add(harmonic.m_dFrequencyHz, harmonic.m_dAmplitude, false);
    }
    for (const CPlannedDaughter& daughter : plan.m_aDaughters) {
        if (daughter.Active()) {
            add(daughter.m_dLowerHz, daughter.SideAmplitude(), false);
            add(daughter.m_dUpperHz, daughter.SideAmplitude(), false);
        }
    }
    add(plan.m_dFundamentalHz, kReferenceAmplitude, true);
    update();
}

void CSpectrumView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& colours = palette();
    painter.fillRect(rect(), colours.color(QPalette::Base));
    painter.setPen(colours.color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    const int text = fontMetrics().height();
    const QRectF plot = QRectF(rect()).adjusted(4, text + 2, -4, -text - 2);
    painter.setPen(colours.color(QPalette::Text));
    painter.drawText(QRectF(4, 1, width() - 8, text), Qt::AlignLeft,
                     QStringLiteral("Spectrum, 0 to -96 dBFS"));
    if (!(m_dHalfRateHz > 0.0)) {
        painter.drawText(plot, Qt::AlignCenter, QStringLiteral("no audio"));
        return;
    }
    const auto x = [&](double hz) {
        return plot.left() + plot.width() * std::clamp(hz / m_dHalfRateHz, 0.0, 1.0);
    };
    const auto y = [&](double db) {
        return plot.bottom() - plot.height() * (std::clamp(db, kFloorDb, 0.0) - kFloorDb) / -kFloorDb;
    };
    // Levels every 24 dB, and the band limit, dotted; L names the band limit at the top.
    painter.setPen(QPen(colours.color(QPalette::Mid), 1, Qt::DotLine));
    for (double db = -24.0; db > kFloorDb; db -= 24.0) {
        painter.drawLine(QPointF(plot.left(), y(db)), QPointF(plot.right(), y(db)));
    }
    painter.drawLine(QPointF(x(m_dBandLimitHz), plot.top()), QPointF(x(m_dBandLimitHz), plot.bottom()));
    painter.setPen(colours.color(QPalette::Text));
    painter.drawText(QRectF(x(m_dBandLimitHz) - 43, 1, 40, text), Qt::AlignRight, QStringLiteral("L"));
    painter.setPen(colours.color(QPalette::Text));
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());
    const QRectF under(plot.left(), plot.bottom() + 1, plot.width(), text);
    painter.drawText(under, Qt::AlignLeft, QStringLiteral("0"));
    const QString half = QStringLiteral("%1 Hz").arg(m_dHalfRateHz, 0, 'f', 0);
    painter.drawText(under, Qt::AlignRight, half);
    // L again under the axis, unless it would run into the half rate's label (the one at the top stays).
    const double halfLeft = under.right() - fontMetrics().horizontalAdvance(half);
    if (x(m_dBandLimitHz) + fontMetrics().horizontalAdvance(QStringLiteral("L")) < halfLeft - 4) {
        painter.drawText(QRectF(x(m_dBandLimitHz) - 20, under.top(), 40, text), Qt::AlignHCenter,
                         QStringLiteral("L"));
    }
    for (const CStem& stem : m_aStems) {
        const QColor colour = colours.color(stem.m_bReference ? QPalette::Highlight : QPalette::Text);
        painter.setPen(
            QPen(colour, stem.m_bReference ? 2 : 1, stem.m_bAliased ? Qt::DashLine : Qt::SolidLine));
        const double at = x(stem.m_dFrequencyHz);
        painter.drawLine(QPointF(at, plot.bottom()), QPointF(at, y(stem.m_dLevelDb)));
        if (stem.m_bAliased) { // a cross on top of a component that folds back
            const double top = y(stem.m_dLevelDb);
            painter.drawLine(QPointF(at - 3, top - 3), QPointF(at + 3, top + 3));
            painter.drawLine(QPointF(at - 3, top + 3), QPointF(at + 3, top - 3));
        }
    }
}
