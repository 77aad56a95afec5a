#pragma once

#include <QRectF>
#include <QString>
#include <QWidget>
#include <vector>

// A device's response, one curve per recording: gain in dB over frequency on a logarithmic axis
// above, phase in degrees below on the same frequencies, one point per stimulus tone joined by a
// line; a 0 dB line; a legend naming the curves when there is more than one. Drawn in the
// palette's colours; hovering a point shows its frequency, level, gain and phase.
class CResponsePlot : public QWidget {
public:
    struct CPoint {
        double m_dFrequencyHz = 0.0;
        double m_dLevelDbfs = 0.0;
        double m_dGainDb = 0.0;
        double m_dPhaseDeg = 0.0;
    };
    struct CCurve {
        QString m_strName;             // the recording's file name
        std::vector<CPoint> m_aPoints; // ascending frequency
    };

    explicit CResponsePlot(QWidget* parent = nullptr);
    // The first curve is the recording the window is for; the others are overlays.
    void SetCurves(std::vector<CCurve> curves);
    const std::vector<CCurve>& Curves() const { return m_aCurves; }
    // What hovering at `position` shows: the figures of the nearest point within a few pixels, or
    // an empty text. Uses the places of the last painting.
    QString HoverText(const QPoint& position) const;
    // The colour of curve `index`: the highlight for the first, then the palette's link colours.
    QColor CurveColour(std::size_t index) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    std::vector<CCurve> m_aCurves;
    // Where the last painting put the two plots' data, and their ranges.
    QRectF m_gainRect, m_phaseRect;
    double m_dLowHz = 20.0, m_dHighHz = 20000.0, m_dGainLow = -1.0, m_dGainHigh = 1.0;
};
