#pragma once

#include <QDialog>
#include <QString>

class QComboBox;

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

private:
    QComboBox* m_pOutput;
    QComboBox* m_pInput;
};
