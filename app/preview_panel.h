#pragma once

#include <QGroupBox>
#include <QStringList>
#include <cstdint>

#include "generation/settings.h"

class CDialogUnits;
class CSpectrumView;
class CWaveformView;
class QLabel;

// The dialog's preview beside its controls: the left channel's spectrum, both channels' first
// periods from the exact samples, and a summary in words (harmonics, frames, size, duration, the
// peak of the first second, the plan's warnings). Laid out in dialog units; takes no focus.
class CPreviewPanel : public QGroupBox {
public:
    CPreviewPanel(const CDialogUnits& units, QWidget* parent);

    // Shows what `settings` will produce. `unusable` names the fields whose text did not parse or
    // was out of range (their last values stand in). Renders at most about a second of frames.
    void ShowSettings(const CGenerationSettings& settings, const QStringList& unusable);
    // After a generation: what was written, how long it took, and its peak.
    void ShowWritten(const QString& path, std::uint64_t bytes, double seconds, double peak);
    QString SummaryText() const;

private:
    CSpectrumView* m_pSpectrum;
    CWaveformView* m_pWaveform;
    QLabel* m_pSummary;
};
