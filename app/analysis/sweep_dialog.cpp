#include "app/analysis/sweep_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

CSweepDialog::CSweepDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("sweepDialog"));
    setWindowTitle(QStringLiteral("Sweep - Vorlanx"));
    m_pKind = new QComboBox(this);
    m_pKind->setObjectName(QStringLiteral("sweepKind"));
    m_pKind->addItem(QStringLiteral("Level (dB against the settings' amplitude)"), QStringLiteral("level"));
    m_pKind->addItem(QStringLiteral("Fundamental (Hz)"), QStringLiteral("fundamental"));
    m_pSteps = new QLineEdit(QStringLiteral("-40:0:2"), this);
    m_pSteps->setObjectName(QStringLiteral("sweepSteps"));
    m_pSteps->setToolTip(
        QStringLiteral("START:STOP:STEP in dB for a level, F1,F2,... in Hz for a fundamental"));
    m_pFromFolder =
        new QRadioButton(QStringLiteral("Recordings in a &folder, named by step (step_-40dB.wav)"), this);
    m_pFromFolder->setObjectName(QStringLiteral("sweepFromFolder"));
    auto* live = new QRadioButton(QStringLiteral("Measure &live, a step at a time"), this);
    live->setObjectName(QStringLiteral("sweepLive"));
    m_pFromFolder->setChecked(true);
    m_pFolder = new QLineEdit(this);
    m_pFolder->setObjectName(QStringLiteral("sweepFolder"));
    auto* browse = new QPushButton(QStringLiteral("&Browse..."), this);
    m_pProblem = new QLabel(this);
    m_pProblem->setObjectName(QStringLiteral("sweepProblem"));
    m_pProblem->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    m_pStart = buttons->addButton(QStringLiteral("Sweep"), QDialogButtonBox::AcceptRole);
    m_pStart->setObjectName(QStringLiteral("startSweep"));
    m_pStart->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString folder = QFileDialog::getExistingDirectory(
            this, QStringLiteral("The recordings of the steps"), m_pFolder->text());
        if (!folder.isEmpty()) {
            m_pFolder->setText(folder);
        }
    });
    connect(m_pKind, &QComboBox::currentIndexChanged, this, [this] {
        m_pSteps->setText(m_pKind->currentData().toString() == QStringLiteral("level")
                              ? QStringLiteral("-40:0:2")
                              : QStringLiteral("20,277"));
    });
    connect(m_pSteps, &QLineEdit::textChanged, this, &CSweepDialog::Check);
    connect(m_pFolder, &QLineEdit::textChanged, this, &CSweepDialog::Check);
    connect(m_pFromFolder, &QRadioButton::toggled, this, [this, browse](bool folder) {
        m_pFolder->setEnabled(folder);
        browse->setEnabled(folder);
        Check();
    });

    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(m_pFolder, 1);
    folderRow->addWidget(browse);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("S&weep"), m_pKind);
    form->addRow(QStringLiteral("&Steps"), m_pSteps);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_pFromFolder);
    layout->addLayout(folderRow);
    layout->addWidget(live);
    layout->addWidget(m_pProblem);
    layout->addWidget(buttons);
    Check();
}

std::optional<instrument::CSweepSpec> CSweepDialog::Spec() const {
    std::string error;
    return instrument::ParseSweep((m_pKind->currentData().toString() + '=' + m_pSteps->text()).toStdString(),
                                  error);
}

QString CSweepDialog::Folder() const {
    return m_pFromFolder->isChecked() ? m_pFolder->text() : QString();
}

void CSweepDialog::Check() {
    std::string error;
    const bool steps = instrument::ParseSweep(
                           (m_pKind->currentData().toString() + '=' + m_pSteps->text()).toStdString(), error)
                           .has_value();
    const bool folder = !m_pFromFolder->isChecked() || !m_pFolder->text().isEmpty();
    m_pProblem->setText(!steps    ? QStringLiteral("The steps: ") + QString::fromStdString(error)
                        : !folder ? QStringLiteral("Choose the folder of recordings.")
                                  : QString());
    m_pStart->setEnabled(steps && folder);
}
