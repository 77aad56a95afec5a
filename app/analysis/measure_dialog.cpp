#include "app/analysis/measure_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "audio/audio_system.h"
#include "instrument/measure_continuous.h"

CMeasureDialog::CMeasureDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("measureDialog"));
    setWindowTitle(QStringLiteral("Measure live - Vorlanx"));
    m_pOutput = new QComboBox(this);
    m_pOutput->setObjectName(QStringLiteral("outputDevice"));
    m_pInput = new QComboBox(this);
    m_pInput->setObjectName(QStringLiteral("inputDevice"));
    // Created in the order the keyboard goes through them: the devices, the run mode, the buttons.
    m_pContinuous = new QCheckBox(QStringLiteral("&Run continuously"), this);
    m_pContinuous->setObjectName(QStringLiteral("runContinuously"));
    m_pContinuous->setToolTip(
        QStringLiteral("Loop the stimulus and update the figures every second until Stop"));
    m_pAverage = new QSpinBox(this);
    m_pAverage->setObjectName(QStringLiteral("average"));
    m_pAverage->setRange(1, static_cast<int>(instrument::kMaxAverage));
    m_pAverage->setSuffix(QStringLiteral(" blocks"));
    m_pAverage->setToolTip(QStringLiteral("Average the newest blocks coherently: the noise floor falls by "
                                          "10 log10 N dB"));
    m_pAverage->setEnabled(false);
    connect(m_pContinuous, &QCheckBox::toggled, m_pAverage, &QSpinBox::setEnabled);
    auto* note = new QLabel(this);
    note->setWordWrap(true);
    note->setText(QStringLiteral(
        "The stimulus plays on the output for its duration while the input records. Wire the left output "
        "through the device under test to input 1, and the right output (the reference) straight to input "
        "2."));
    QString problem;
    try {
        const audio::CAudioSystem system;
        for (const audio::CDeviceInfo& device : system.Devices()) {
            const QString name = QString::fromStdString(device.m_strName);
            const QString shown =
                QStringLiteral("%1 (%2)").arg(name, QString::fromStdString(device.m_strHostApi));
            if (device.m_nOutputChannels >= 2) {
                device.m_bDefaultOutput ? m_pOutput->insertItem(0, shown, name)
                                        : m_pOutput->addItem(shown, name);
            }
            if (device.m_nInputChannels >= 1) {
                device.m_bDefaultInput ? m_pInput->insertItem(0, shown, name)
                                       : m_pInput->addItem(shown, name);
            }
        }
        m_pOutput->setCurrentIndex(0);
        m_pInput->setCurrentIndex(0);
        if (m_pOutput->count() == 0 || m_pInput->count() == 0) {
            problem = QStringLiteral(
                "No sound device can play two channels and record: there is nothing to measure with.");
        }
    } catch (const std::exception& error) {
        problem = QString::fromStdString(error.what());
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    QPushButton* measure = buttons->addButton(QStringLiteral("Measure"), QDialogButtonBox::AcceptRole);
    measure->setObjectName(QStringLiteral("startMeasurement"));
    measure->setEnabled(problem.isEmpty());
    measure->setDefault(problem.isEmpty()); // Enter measures
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Output (plays)"), m_pOutput);
    form->addRow(QStringLiteral("Input (records)"), m_pInput);
    form->addRow(QString(), m_pContinuous);
    form->addRow(QStringLiteral("&Average"), m_pAverage);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    if (!problem.isEmpty()) {
        auto* error = new QLabel(problem, this);
        error->setObjectName(QStringLiteral("measureProblem"));
        error->setWordWrap(true);
        layout->addWidget(error);
    }
    layout->addWidget(buttons);
}

QString CMeasureDialog::OutputDevice() const {
    return m_pOutput->currentData().toString();
}

QString CMeasureDialog::InputDevice() const {
    return m_pInput->currentData().toString();
}

bool CMeasureDialog::Continuous() const {
    return m_pContinuous->isChecked();
}

unsigned CMeasureDialog::Average() const {
    return static_cast<unsigned>(m_pAverage->value());
}
