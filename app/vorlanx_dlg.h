#pragma once

#include <QDialog>
#include <QString>
#include <map>

#include "generation/feedback.h"
#include "generation/settings.h"

class QLineEdit;
struct CDoubleField;
class QPushButton;

// The main window: the ten settings in edit controls, "Generate!", "About..." and "Done".
// It is the generate job's feedback: a wait cursor for the job, its messages as modal boxes.
class CVorlanxDlg : public QDialog, public CGenerationFeedback {
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

    // CGenerationFeedback: the wait cursor (an override cursor) and modal boxes titled "Vorlanx",
    // with a warning icon for MB_ICONEXCLAMATION and an error icon for MB_OK (its only use is
    // "File open failed!").
    void BeginWait() override;
    void EndWait() override;
    void ShowMessage(const std::string& text, unsigned type) override;

public slots:
    // "Generate!": transfer; when it succeeds, run the job with these settings. Never throws.
    void OnGenerate();
    // The OK command (Enter): transfer, and close the program only when it succeeds.
    void OnOK();
    // "About...": the About box, modal, centred on this dialog.
    void OnAbout();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* Edit(int id) const { return m_edits.at(id); }
    bool SaveFailed(int id, const QString& message);
    // Stores one double field, then checks its range if it has one; false after a message.
    bool SaveDouble(const CDoubleField& field);

    CGenerationSettings m_settings;
    std::map<int, QLineEdit*> m_edits; // by control ID
    QPushButton* m_pGenerate = nullptr;
    QPushButton* m_pDone = nullptr;
    QPushButton* m_pAbout = nullptr;
    bool m_bCentred = false;
};
