#pragma once

#include <QDialog>
#include <optional>

#include "instrument/sweep_spec.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;

// Asks what a sweep steps (the level in dB, or the fundamental in Hz), its steps ("-40:0:2",
// "20,277"), and where each step's recording comes from: a folder of recordings named by step, or a
// live measurement per step (the devices are asked for next). "Sweep" stays disabled while the steps
// do not read, with the reason shown.
class CSweepDialog : public QDialog {
    Q_OBJECT
public:
    explicit CSweepDialog(QWidget* parent);
    // The steps as read; nullopt while they do not read.
    std::optional<instrument::CSweepSpec> Spec() const;
    // The folder of recordings; empty for a live sweep.
    QString Folder() const;

private:
    void Check();
    QComboBox* m_pKind;
    QLineEdit* m_pSteps;
    QRadioButton* m_pFromFolder;
    QLineEdit* m_pFolder;
    QLabel* m_pProblem;
    QPushButton* m_pStart = nullptr;
};
