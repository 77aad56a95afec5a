#pragma once

#include <QWidget>

#include "instrument/sweep.h"

// A sweep's curves in the palette's colours. A level sweep: D+N, even and odd order against the
// level above (the limit figure dotted, the best and limit levels marked), the gain against the level
// below. A fundamental sweep: the merged response's gain against frequency on a logarithmic axis, a
// colour for each fundamental its points came from.
class CSweepPlot : public QWidget {
public:
    explicit CSweepPlot(QWidget* parent = nullptr);
    void SetSweep(const instrument::CSweepResult& sweep);
    const instrument::CSweepResult& Sweep() const { return m_sweep; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void PaintLevels(QPainter& painter);
    void PaintMerged(QPainter& painter);
    instrument::CSweepResult m_sweep;
};
