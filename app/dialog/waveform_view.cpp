#include "app/dialog/waveform_view.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

CWaveformView::CWaveformView(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CWaveformView::SetSamples(std::vector<double> samples) {
    m_aSamples = std::move(samples);
    update();
}

void CWaveformView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& colours = palette();
    painter.fillRect(rect(), colours.color(QPalette::Base));
    painter.setPen(colours.color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    const QRectF plot = QRectF(rect()).adjusted(2, 2, -2, -2);
    painter.drawLine(QPointF(plot.left(), plot.center().y()), QPointF(plot.right(), plot.center().y()));
    const std::size_t frames = m_aSamples.size() / 2;
    painter.setRenderHint(QPainter::Antialiasing);
    for (int channel : {1, 0}) { // left drawn last, on top
        painter.setPen(QPen(colours.color(channel == 0 ? QPalette::Text : QPalette::Highlight), 1));
        QPainterPath path;
        for (std::size_t k = 0; k < frames; ++k) {
            const double x = plot.left() + plot.width() * (frames > 1 ? double(k) / double(frames - 1) : 0.0);
            const double y =
                plot.center().y() - plot.height() / 2.0 * std::clamp(m_aSamples[2 * k + channel], -1.0, 1.0);
            k == 0 ? path.moveTo(x, y) : path.lineTo(x, y);
        }
        painter.drawPath(path);
    }
    const int text = fontMetrics().height();
    painter.setPen(colours.color(QPalette::Text));
    painter.drawText(QRectF(4, 1, width() / 2, text), Qt::AlignLeft, QStringLiteral("Left"));
    painter.setPen(colours.color(QPalette::Highlight));
    painter.drawText(QRectF(width() / 2, 1, width() / 2 - 4, text), Qt::AlignRight, QStringLiteral("Right"));
}
