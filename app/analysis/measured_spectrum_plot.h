#pragma once

#include <QRectF>
#include <QWidget>
#include <optional>
#include <vector>

namespace analysis {
struct CAnalysisReport;
}

// The left channel's measured spectrum in dBFS from 0 Hz to half the rate (averaged over the
// segments, a tone's peak reading its level), with the analysis's lines marked at their levels: the
// stimulus's tones in the highlight colour, the even and the odd detection lines in the palette's
// two link colours; the band limit a dotted line, the noise floor per bin a dashed one, and a legend.
// Hovering a line shows its frequency and level (and a tone's gain and phase).
class CMeasuredSpectrumPlot : public QWidget {
public:
    enum class ELine { Stimulus, Even, Odd };
    struct CLine {
        ELine m_eKind;
        double m_dFrequencyHz;
        double m_dLevelDbfs;
        double m_dGainDb = 0.0; // tones only
        double m_dPhaseDeg = 0.0;
        QString m_strName; // "harmonic 3", "daughter 1, fc - f0", "line 2 x f0"
    };

    explicit CMeasuredSpectrumPlot(QWidget* parent = nullptr);
    // Shows `report`'s spectrum and lines.
    void SetReport(const analysis::CAnalysisReport& report);
    const std::vector<CLine>& Lines() const { return m_aLines; }
    // What hovering at `position` shows: the nearest marked line within a few pixels, or nothing.
    // Uses the places of the last painting.
    QString HoverText(const QPoint& position) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QColor LineColour(ELine kind) const;

    std::vector<float> m_aSpectrumDbfs;
    double m_dBinHz = 0.0;
    double m_dHalfRateHz = 0.0;
    double m_dBandLimitHz = 0.0;
    std::optional<double> m_dNoiseDbfs;
    std::vector<CLine> m_aLines;
    double m_dFloorDb = -160.0; // the bottom of the level axis
    QRectF m_dataRect;          // where the last painting put the data
};
