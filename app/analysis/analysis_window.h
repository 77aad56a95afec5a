#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <map>
#include <optional>

#include "analysis/analysis_report.h"
#include "app/workers/analysis_worker.h"
#include "generation/settings.h"
#include "instrument/limits.h"

class CMeasuredSpectrumPlot;
class CSweepPlot;
class QTabWidget;
class CResponsePlot;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

// A window that shows one recording's measurement: the Response (gain and phase at every stimulus
// tone, with overlays of other recordings for comparison), the left channel's Spectrum with the
// lines marked, and a Summary of the figures and warnings, all from the analysis core. Non-modal,
// titled with the recording's file name; several may be open. The analysis runs on a worker thread:
// a progress bar with "Cancel" shows while it works, and closing the window cancels it first.
// "Save image..." writes the plots as PNG or SVG, "Export..." the report as vorlanx-analyze's CSV
// or JSON, both replacing a file only once complete. A recording that cannot be analysed gives one
// message naming it and the reason (and a window that has nothing to show closes). "Measure..." plays
// the stimulus and records a device's answer through sound devices, and shows that instead.
class CAnalysisWindow : public QWidget {
    Q_OBJECT
public:
    // `stimulus`: the settings the recordings were made with. `parent` (the main dialog) keeps the
    // window; it is deleted when closed.
    CAnalysisWindow(const CGenerationSettings& stimulus, QWidget* parent);
    ~CAnalysisWindow() override;

    // Starts analysing `path`; the window shows it when done.
    void Analyze(const QString& path);
    // Starts analysing `path` as an overlay on the Response plot.
    void Overlay(const QString& path);
    // Measures live: plays the stimulus on `output`, records `input`, and shows the analysis (in
    // place of what the window showed) when it is done.
    void Measure(const QString& output, const QString& input);
    // Measures continuously: the stimulus loops, and every second the window shows the newest
    // block's analysis (averaged over the newest `average`) in place, with the update's number, the
    // average's count and the underruns and overruns, until "Stop" (or the window closes). "Hold"
    // keeps what is shown while the measurement goes on.
    void MeasureContinuously(const QString& output, const QString& input, unsigned average);
    bool IsRunningContinuously() const { return m_bContinuous; }
    // Runs a sweep (from `folder`, or live on the devices when it is empty) and shows it in the
    // "Sweep" tab when done.
    void Sweep(const instrument::CSweepSpec& spec, const QString& folder, const QString& output = {},
               const QString& input = {});
    // The last sweep shown, or nullptr.
    const instrument::CSweepResult* SweepShown() const;
    // The continuous measurement's status line, as shown.
    QString LiveStatus() const;
    // Called with each file dropped on the window (the main dialog opens a window for it).
    void SetDropHandler(std::function<void(const QString&)> handler) { m_onDrop = std::move(handler); }

    const std::optional<analysis::CAnalysisReport>& Report() const { return m_report; }
    bool IsBusy() const { return m_worker.IsRunning(); }
    // The Summary's figures by their JSON keys ("fundamental_hz", ...), as shown.
    QString SummaryValue(const QString& key) const;

    // What the file choosers offer: sound files by extension, and all files.
    static QString RecordingFilter();

public slots:
    // Asks for the devices (CMeasureDialog) and measures; a window with nothing to show closes when
    // the question is cancelled.
    void OnMeasure();
    // "Sweep...": asks for the steps and their source (CSweepDialog, then the devices for a live one).
    void OnSweep();
    void OnOverlay();
    void OnExport();
    // "Limits...": asks for a limits file and judges the report against it.
    void OnLimits();
    // The full scale field was edited: levels also read in its unit (none for an empty field or a
    // level that does not read, which is shown in the warning colour).
    void OnFullScale();

public:
    // Judges the report (and any later one) against the limits file at `path`: the verdict in the
    // Summary, the masks on the Response. False after a message when it cannot be read.
    bool LoadLimits(const QString& path);

public slots:
    void OnSaveImage();
    // "Report...": asks where, and writes the measurement as the HTML page vorlanx-analyze --report writes.
    void OnReport();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void Start(const QString& path, bool overlay, const analysis::CAnalysisOptions& options = {});
    // Asks which of `channels` channels hold the left and the reference: nullopt when cancelled.
    std::optional<std::pair<int, int>> ChooseChannels(int channels);
    void OnProgressed(qint64 done, qint64 total);
    void OnMeasuring(bool recording);
    void OnFinished(const CAnalysisWorker::CResult& result);
    void OnUpdated(const CAnalysisWorker::CResult& result);
    void OnSwept(const CAnalysisWorker::CSweepOutcome& outcome);
    void ShowReport();
    // What a saved picture says under the plots: the recording, when and by what it was analysed, the
    // stimulus's settings, and the verdict where limits were loaded.
    QStringList Caption() const;
    // Writes `bytes` to `path` as the generator writes its files; false after a message.
    bool WriteFile(const QString& path, const QByteArray& bytes);

    CGenerationSettings m_stimulus;
    CAnalysisWorker m_worker;
    bool m_bOverlayRunning = false;
    bool m_bMeasuring = false; // a live measurement runs: its title waits in m_strPendingTitle
    QString m_strPendingTitle;
    std::optional<analysis::CAnalysisReport> m_report;
    QString m_strName;        // the recording's file name
    std::string m_strSource;  // the shown report's recording path, or "live: OUT to IN"
    std::string m_strSession; // a live report's underruns and overruns (SessionText); empty for a file
    std::vector<std::pair<QString, analysis::CAnalysisReport>> m_aOverlays;
    std::function<void(const QString&)> m_onDrop;

    QWidget* m_pPlots = nullptr;
    CResponsePlot* m_pResponse = nullptr;
    CMeasuredSpectrumPlot* m_pSpectrum = nullptr;
    std::map<QString, QLabel*> m_summary; // by JSON key
    QLabel* m_pWarnings = nullptr;
    QPushButton* m_pMeasure = nullptr;
    QPushButton* m_pOverlay = nullptr;
    QPushButton* m_pExport = nullptr;
    QPushButton* m_pSaveImage = nullptr;
    QPushButton* m_pLimits = nullptr;
    QPushButton* m_pReport = nullptr;
    QLineEdit* m_pFullScale = nullptr;
    std::optional<analysis::CFullScale> m_fullScale; // given in the window
    std::optional<instrument::CLimits> m_limits;     // judged against, once loaded
    QProgressBar* m_pProgress = nullptr;
    QPushButton* m_pCancel = nullptr;
    QTabWidget* m_pTabs = nullptr;
    CSweepPlot* m_pSweep = nullptr; // in the "Sweep" tab, added with the first sweep
    QPushButton* m_pSweepButton = nullptr;
    std::optional<instrument::CSweepResult> m_sweep;
    // Continuous measurement.
    bool m_bContinuous = false;
    QPushButton* m_pHold = nullptr;
    QLabel* m_pLiveStatus = nullptr;
};
