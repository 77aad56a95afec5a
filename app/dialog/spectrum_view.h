#pragma once

#include <QWidget>
#include <vector>

#include "generation/job_plan.h"

// The left channel's line spectrum from 0 to half the sample rate: one stem per component at its
// level in dBFS (harmonics, the daughters' tones), the right channel's reference in another colour,
// the band limit L and half the rate marked, aliased components dashed at the frequency they fold
// to. Drawn in palette colours; takes no focus.
class CSpectrumView : public QWidget {
public:
    explicit CSpectrumView(QWidget* parent = nullptr);
    // Shows `plan`'s components (none when it is refused).
    void SetPlan(const CJobPlan& plan);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct CStem {
        double m_dFrequencyHz; // where it sounds, folded into [0, rate / 2]
        double m_dLevelDb;
        bool m_bReference;
        bool m_bAliased;
    };
    std::vector<CStem> m_aStems;
    double m_dHalfRateHz = 0.0;
    double m_dBandLimitHz = 0.0;
};
