#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QComboBox;
class QSpinBox;

// Asks which devices a live measurement uses: the output that plays the stimulus and the input that
// records the answer, each from the sound devices there are (the system's defaults chosen first), with
// how to wire them. Lists the devices when it opens (GUI thread); with none to offer it says so and
// "Measure" stays disabled.
class CMeasureDialog : public QDialog {
    Q_OBJECT
public:
    explicit CMeasureDialog(QWidget* parent);
    QString OutputDevice() const;
    QString InputDevice() const;
    // "Run continuously": the stimulus loops and the window updates about every second, averaging
    // the newest Average() blocks.
    bool Continuous() const;
    unsigned Average() const;

private:
    QComboBox* m_pOutput;
    QComboBox* m_pInput;
    QCheckBox* m_pContinuous;
    QSpinBox* m_pAverage;
};
