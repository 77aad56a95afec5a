#pragma once

#include <QDialog>
#include <QString>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "app/workers/audition_worker.h"
#include "app/workers/generation_worker.h"
#include "generation/feedback.h"
#include "generation/settings.h"

class CAnalysisWindow;
class CPreviewPanel;
class COutputGroup;
class QLineEdit;
struct CSettingsField;
class QProgressDialog;
class QPushButton;
class QScreen;
class QTimer;
struct CControl;

// The main window: the ten settings in edit controls, "Generate!", "About..." and "Done".
// It shows the generate job's feedback: a wait cursor for the job, its messages as modal boxes. The
// job runs on a worker thread: the window stays responsive, "Generate!" is disabled, and a job
// that lasts more than half a second shows a modal progress dialog with a "Cancel" button.
class CVorlanxDlg : public QDialog {
    Q_OBJECT
public:
    // Control IDs; each control's object name is its ID in decimal.
    enum EControl {
        IDC_FILE_NAME = 1000,
        IDC_DURATION = 1001,
        IDC_SAMPLE_RATE = 1002,
        IDC_GENERATE = 1003,
        IDC_CARRIER_FREQ1 = 1004,
        IDC_DAUGHTER_AMPLITUDE1 = 1005,
        IDC_FUNDAMENTAL_FREQ = 1006,
        IDC_MOTHER_AMPLITUDE = 1007,
        IDC_CARRIER_FREQ2 = 1008,
        IDC_DAUGHTER_AMPLITUDE2 = 1009,
        IDC_NYQUIST_FACTOR = 1010,
        IDC_FADE_IN = 1011, // in the "Output" group
        IDC_FADE_OUT = 1012,
        IDCANCEL = 2,
    };

    // Builds the dialog with default settings shown in the controls.
    explicit CVorlanxDlg(QWidget* parent = nullptr);

    // Copies the controls into the settings (save = true) or the settings into the controls.
    // Saving goes field by field in a fixed order, stores each value before its range check, and
    // stops at the first failure: a modal message, the focus and a selection on that control, and
    // false. The fields after it keep their values.
    bool UpdateData(bool save);

    const CGenerationSettings& Settings() const { return m_settings; }

    // The job's feedback as the worker passes it on: the wait cursor (an override cursor) and modal
    // boxes titled "Vorlanx", with a warning icon for MB_ICONEXCLAMATION and an error icon for MB_OK
    // (its only use is "File open failed!").
    void BeginWait();
    void EndWait();
    void ShowMessage(const std::string& text, unsigned type);
    // As ShowMessage, with `detail` (the path and the system's reason) below the text.
    void ShowDetailedMessage(const std::string& text, unsigned type, const std::string& detail);

    // True while a generation runs, up to and including its message.
    bool IsGenerating() const { return m_bGenerating; }

    // Closing (OK, cancel, the window's close button) first cancels a running job and waits for it.
    void done(int result) override;

signals:
    // A generation has ended and its message, if any, was shown.
    void generationFinished();

public slots:
    // "Generate!": transfer; when it succeeds, start the job with these settings on the worker
    // thread and return. Never throws.
    void OnGenerate();
    // The OK command (Enter): transfer, and close the program only when it succeeds.
    void OnOK();
    // "About...": the About box, modal, centred on this dialog.
    void OnAbout();
    // "Browse...": a save dialog for the file name, starting from the one typed.
    void OnBrowse();
    // "Analyze...": checks the signal fields as a generation does (the first bad one is named, and
    // nothing is analysed), asks for a recording and opens an analysis window for it.
    void OnAnalyze();
    // Plays the fields' signal on the default output, or stops it ("Stop"); a field edited stops it.
    void OnPlay();
    void OnAuditionFinished(const CAuditionWorker::COutcome& outcome);
    // Opens an analysis window that asks for the devices and measures live.
    void OnMeasure();

public:
    // An analysis window for `path`, with `stimulus` as the signal it holds; shown, analysing.
    CAnalysisWindow* OpenAnalysis(const QString& path, const CGenerationSettings& stimulus);
    // The signal fields in transfer order, checked and stored into a copy of the settings; nullopt
    // after a message naming the first that does not parse or is out of range.
    std::optional<CGenerationSettings> StimulusSettings();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* Edit(int id) const { return m_edits.at(id); }
    bool SaveFailed(int id, const QString& message);
    void OnProgressDue();
    void OnWaitingForReader(const QString& path);
    // Font, dialog units and every control's place for `screen`'s available area: the desktop's
    // font, with a horizontal unit wide enough for every label's text; the preview as wide as the
    // screen leaves room for (none when too narrow); a smaller font only where even the original
    // window would not fit.
    void ApplyLayout(const QScreen* screen);
    void OnProgressed(qint64 framesWritten, qint64 frameCount);
    void OnJobFinished(const CGenerationWorker::CResult& result);
    // The preview of what the fields hold now, without messages.
    void UpdatePreview();
    // The user chose a format: a ".wav" name becomes ".flac" for FLAC, and back.
    void OnFormatChosen();
    // The user typed a name: one ending in the other container's ending switches the format.
    void OnFileNameEdited(const QString& name);
    // Stores the box `id` into `field` of `settings`, then checks its range if it has one; false after
    // a message in the field's own words from the settings table.
    bool SaveField(const CSettingsField& field, int id, CGenerationSettings& settings);
    // The signal's fields and the fades in the table's order into `settings`, stopping at the first
    // failure.
    bool SaveSignalFields(CGenerationSettings& settings);
    // A dropped file: analysed with the fields' settings, when they pass.
    void AnalyzeDropped(const QString& path);

    CGenerationSettings m_settings;
    std::map<int, QLineEdit*> m_edits; // by control ID
    QPushButton* m_pGenerate = nullptr;
    QPushButton* m_pDone = nullptr;
    QPushButton* m_pAbout = nullptr;
    QPushButton* m_pBrowse = nullptr;
    QPushButton* m_pAnalyze = nullptr;
    QPushButton* m_pPlay = nullptr; // "Play", "Stop" while it plays
    QPushButton* m_pMeasure = nullptr;
    CAuditionWorker m_audition;
    std::vector<std::pair<QWidget*, const CControl*>>
        m_aPlaced; // the table's controls, placed by ApplyLayout
    const QScreen* m_pLayoutScreen = nullptr;
    bool m_bCentred = false;
    CGenerationWorker m_worker;
    bool m_bGenerating = false;
    bool m_bClosing = false;                // closing cancelled the job: no message
    QTimer* m_pProgressDue = nullptr;       // shows the progress dialog half a second into a job
    QProgressDialog* m_pProgress = nullptr; // while shown
    double m_dProgress = 0.0;               // fraction of the frames written
    QString m_strProgressLabel;             // what the progress dialog says while the file is written
    QString m_strWaitingLabel;              // and while it waits for a FIFO's reader (empty: it does not)
    CPreviewPanel* m_pPreview = nullptr;
    COutputGroup* m_pOutput = nullptr; // the format and the fades, under the preview
    QTimer* m_pPreviewDue = nullptr;   // follows typing, a moment after the last key
};
