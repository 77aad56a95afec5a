#pragma once

#include <QGroupBox>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "generation/job_plan.h"
#include "generation/settings.h"

class CDialogUnits;
class CPeakWorker;
class CSpectrumView;
class CWaveformView;
class QLabel;
class QScrollArea;

// The dialog's preview beside its controls: the left channel's spectrum, both channels' first
// periods from the exact samples, and a summary in words (harmonics, frames, size, duration, the
// peak, every warning of the plan; it scrolls when they are many). The peak is that of the first
// second at once, then that of the whole file, worked out in the background and dropped when the
// settings change. Laid out in dialog units; takes no focus.
class CPreviewPanel : public QGroupBox {
public:
    CPreviewPanel(QWidget* parent);
    ~CPreviewPanel() override;

    // Places the panel's parts in a panel `width` x `height` dialog units large.
    void Layout(const CDialogUnits& units, int width, int height);
    // Shows what `settings` will produce. `unusable` names the fields whose text did not parse or
    // was out of range (their last values stand in). Renders at most about a second of frames at
    // once, and starts the whole file's peak.
    void ShowSettings(const CGenerationSettings& settings, const QStringList& unusable);
    // After a generation: what was written (`path` as it should be shown), how long it took, and its peak.
    void ShowWritten(const QString& path, std::uint64_t bytes, double seconds, double peak);
    // Stops working out the whole file's peak (a generation is about to use the processors).
    void StopWholeFilePeak();
    QString SummaryText() const;
    // True once the whole file's peak is shown for the settings last given.
    bool HasWholeFilePeak() const { return m_bWholePeakShown; }

private:
    void OnWholeFilePeak(quint64 request, double peak);
    void ShowSummary();

    CSpectrumView* m_pSpectrum;
    CWaveformView* m_pWaveform;
    QScrollArea* m_pScroll;
    QLabel* m_pSummary;
    CPeakWorker* m_pPeakWorker;
    quint64 m_nPeakRequest = 0;
    bool m_bWholePeakShown = false;
    // The summary's parts: before the peak, the peak line(s), after it.
    QStringList m_aHead, m_aPeak, m_aTail;
};
