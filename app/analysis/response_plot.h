#pragma once

#include <QRectF>
#include <QString>
#include <QWidget>
#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class CPlotAxis;

// A device's response, one curve per recording: gain in dB over frequency on a logarithmic axis
// above, and below on the same frequencies either the phase in degrees (unwrapped along the curve, so
// a delay reads as a slope, not a saw) or the group delay in ms; one point per stimulus tone joined by
// a line; a 0 dB line; a legend naming the curves when there is more than one. Drawn in the
// palette's colours; hovering a point shows its frequency, level, gain, phase and group delay.
class CResponsePlot : public QWidget {
public:
    struct CPoint {
        double m_dFrequencyHz = 0.0;
        double m_dLevelDbfs = 0.0;
        double m_dGainDb = 0.0;
        double m_dPhaseDeg = 0.0;     // (-180, 180], as measured
        double m_dGroupDelayMs = NAN; // NaN where there is none
        double m_dUnwrappedDeg = 0.0; // set by SetCurves: the phase unwrapped along the curve
    };
    enum class ELower { Phase, GroupDelay };
    // A mask's curves as a limits file gives them: (Hz, value) points on the figure it bounds, values
    // relative to the first curve's figure at m_dRelativeToHz where that is set.
    struct CMaskCurve {
        std::string m_strFigure; // "gain_db", "phase_deg", "group_delay_ms"
        std::vector<std::pair<double, double>> m_aUpper, m_aLower;
        std::optional<double> m_dRelativeToHz;
    };
    struct CCurve {
        QString m_strName;             // the recording's file name
        std::vector<CPoint> m_aPoints; // ascending frequency
        double m_dDelayMs = 0.0;       // the device's delay: the phases are unwrapped about its slope
    };

    explicit CResponsePlot(QWidget* parent = nullptr);
    // The first curve is the recording the window is for; the others are overlays.
    // `topHz`: where the frequency axis ends at the most (half the recording's rate: nothing lies
    // above it); 0 for a whole decade above the highest point.
    void SetCurves(std::vector<CCurve> curves, double topHz = 0.0);
    // The frequency axis's ends, as the last SetCurves chose them.
    double LowHz() const { return m_dLowHz; }
    double HighHz() const { return m_dHighHz; }
    const std::vector<CCurve>& Curves() const { return m_aCurves; }
    // What the lower plot shows.
    void SetLower(ELower lower);
    // The masks drawn as dashed curves on the plot of their figure (the lower one when it shows it).
    void SetMasks(std::vector<CMaskCurve> masks);
    const std::vector<CMaskCurve>& Masks() const { return m_aMasks; }
    ELower Lower() const { return m_eLower; }
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
    double m_dPhaseLow = -180.0, m_dPhaseHigh = 180.0, m_dDelayLow = -1.0, m_dDelayHigh = 1.0;
    ELower m_eLower = ELower::Phase;
    std::vector<CMaskCurve> m_aMasks;
    // The lower plot's axis, and a point's value on it.
    CPlotAxis LowerAxis() const;
    double LowerValue(const CPoint& point) const;
};
