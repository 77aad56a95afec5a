#pragma once

#include <QWidget>
#include <cstdint>
#include <vector>

// Both channels' samples over a short stretch (the first few periods of the fundamental): left in
// the text colour, right in the highlight colour, full scale at the edges. Takes no focus.
class CWaveformView : public QWidget {
public:
    explicit CWaveformView(QWidget* parent = nullptr);
    // `samples` interleaved left, right, full scale 1.0; drawn from the first frame to the last.
    void SetSamples(std::vector<double> samples);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<double> m_aSamples;
};
