#include "app/analysis/analysis_window.h"

#include <QBuffer>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cmath>
#include <utility>
#ifdef VORLANX_HAVE_SVG
#include <QSvgGenerator>
#endif

#include "analysis/report_formats.h"
#include "app/analysis/measure_dialog.h"
#include "app/analysis/measured_spectrum_plot.h"
#include "app/analysis/plot_axis.h"
#include "app/analysis/response_plot.h"
#include "app/analysis/sweep_dialog.h"
#include "app/analysis/sweep_plot.h"
#include "app/app_icon.h"
#include "generation/file_formats.h"
#include "instrument/html_report.h"
#include "instrument/limits.h"
#include "platform/number_text.h"
#include "platform/output_file.h"

namespace {

// The Summary's rows: the JSON key a value shows, and its label.
const std::pair<const char*, const char*> kSummaryRows[] = {
    {"verdict", "Verdict"},
    {"onset_s", "Stimulus starts"},
    {"fundamental_hz", "Fundamental"},
    {"clock_offset_ppm", "Clock offset"},
    {"delay_ms", "Delay"},
    {"polarity", "Polarity"},
    {"distortion_noise_db", "Distortion + noise"},
    {"even_order_db", "Even order"},
    {"odd_order_db", "Odd order"},
    {"noise_floor_dbfs", "Noise floor"},
    {"reference.level_dbfs", "Reference level"},
    {"reference.thd_db", "Reference THD"},
    {"reference.thd_n_db", "Reference THD+N"},
    {"spurs", "Spurs"},
};

// `value` with `decimals` digits and `unit`, a sign where it says which way; "n/a" without a value.
QString Figure(const std::optional<double>& value, int decimals, const char* unit, bool sign = false) {
    if (!value || std::isnan(*value)) {
        return QStringLiteral("n/a");
    }
    return QString::fromStdString(platform::FormatFigure(*value, decimals, sign)) + ' ' + unit;
}

std::vector<CResponsePlot::CPoint> Points(const analysis::CAnalysisReport& report) {
    std::vector<CResponsePlot::CPoint> points;
    for (const analysis::CToneResult& tone : report.m_aTones) {
        points.push_back({tone.m_dFrequencyHz, tone.m_dLevelDbfs, tone.m_dGainDb, tone.m_dPhaseDeg,
                          tone.m_dGroupDelayMs.value_or(NAN)});
    }
    std::sort(points.begin(), points.end(),
              [](const auto& a, const auto& b) { return a.m_dFrequencyHz < b.m_dFrequencyHz; });
    return points;
}

} // namespace

QString CAnalysisWindow::RecordingFilter() {
    QStringList patterns;
    for (const char* extension : RecordingExtensions()) {
        patterns << QStringLiteral("*.") + extension << QStringLiteral("*.") + QString(extension).toUpper();
    }
    return QStringLiteral("Sound files (%1);;All files (*)").arg(patterns.join(' '));
}

CAnalysisWindow::CAnalysisWindow(const CGenerationSettings& stimulus, QWidget* parent)
    : QWidget(parent, Qt::Window), m_stimulus(stimulus) {
    setObjectName(QStringLiteral("analysisWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAcceptDrops(true);
    setWindowIcon(AppIcon());
    setWindowTitle(QStringLiteral("Vorlanx analysis"));

    m_pPlots = new QWidget(this);
    m_pPlots->setObjectName(QStringLiteral("plots"));
    m_pResponse = new CResponsePlot(m_pPlots);
    m_pResponse->setObjectName(QStringLiteral("response"));
    m_pSpectrum = new CMeasuredSpectrumPlot(m_pPlots);
    m_pSpectrum->setObjectName(QStringLiteral("spectrum"));
    auto* plots = new QVBoxLayout(m_pPlots);
    plots->setContentsMargins(0, 0, 0, 0);
    plots->addWidget(m_pResponse, 3);
    plots->addWidget(m_pSpectrum, 2);

    auto* summary = new QGroupBox(QStringLiteral("Summary"), this);
    summary->setObjectName(QStringLiteral("summary"));
    auto* form = new QFormLayout(summary);
    for (const auto& [key, label] : kSummaryRows) {
        auto* value = new QLabel(QStringLiteral("..."), summary);
        value->setObjectName(QString::fromLatin1(key));
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        value->setWordWrap(true); // the polarity's remark wraps instead of widening the column
        form->addRow(QString::fromLatin1(label), value);
        m_summary[QString::fromLatin1(key)] = value;
    }
    m_pWarnings = new QLabel(summary);
    m_pWarnings->setObjectName(QStringLiteral("warnings"));
    m_pWarnings->setWordWrap(true);
    m_pWarnings->setTextFormat(Qt::PlainText);
    m_pWarnings->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* warnings = new QScrollArea(summary);
    warnings->setWidget(m_pWarnings);
    warnings->setWidgetResizable(true);
    warnings->setFrameShape(QFrame::NoFrame);
    form->addRow(QStringLiteral("Warnings"), warnings);

    m_pMeasure = new QPushButton(QStringLiteral("&Measure..."), this);
    m_pMeasure->setObjectName(QStringLiteral("measure"));
    m_pMeasure->setToolTip(
        QStringLiteral("Play the stimulus on a sound device, record the answer and show it"));
    m_pOverlay = new QPushButton(QStringLiteral("Overlay..."), this);
    m_pOverlay->setObjectName(QStringLiteral("overlay"));
    m_pOverlay->setToolTip(QStringLiteral("Add another recording's response to the Response plot"));
    m_pExport = new QPushButton(QStringLiteral("Export..."), this);
    m_pExport->setObjectName(QStringLiteral("export"));
    m_pSaveImage = new QPushButton(QStringLiteral("Save image..."), this);
    m_pSaveImage->setObjectName(QStringLiteral("saveImage"));
    m_pReport = new QPushButton(QStringLiteral("Report..."), this);
    m_pReport->setObjectName(QStringLiteral("report"));
    m_pReport->setToolTip(QStringLiteral("Save the measurement as a page to file or print (HTML)"));
    m_pLimits = new QPushButton(QStringLiteral("Limits..."), this);
    m_pLimits->setObjectName(QStringLiteral("limits"));
    m_pLimits->setToolTip(
        QStringLiteral("Judge the figures against a limits file: a verdict, masks on the Response"));
    m_pProgress = new QProgressBar(this);
    m_pProgress->setObjectName(QStringLiteral("analysisProgress"));
    m_pProgress->setRange(0, 1000);
    m_pCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_pCancel->setObjectName(QStringLiteral("cancelAnalysis"));

    auto* side = new QVBoxLayout;
    side->addWidget(summary, 1);
    // Two rows of buttons, so that the side column stays narrow and the plots get the width.
    auto* buttons = new QGridLayout;
    buttons->addWidget(m_pMeasure, 0, 0);
    buttons->addWidget(m_pOverlay, 0, 1);
    buttons->addWidget(m_pExport, 1, 0);
    buttons->addWidget(m_pSaveImage, 1, 1);
    buttons->addWidget(m_pLimits, 2, 0);
    buttons->addWidget(m_pReport, 2, 1);
    m_pSweepButton = new QPushButton(QStringLiteral("S&weep..."), this);
    m_pSweepButton->setObjectName(QStringLiteral("sweep"));
    m_pSweepButton->setToolTip(QStringLiteral(
        "Measure at several levels or fundamentals: distortion against level, a merged response"));
    buttons->addWidget(m_pSweepButton, 3, 0);
    side->addLayout(buttons);
    // The Response's lower plot: the phase, or the group delay.
    auto* groupDelay = new QCheckBox(QStringLiteral("Show &group delay"), this);
    groupDelay->setObjectName(QStringLiteral("groupDelay"));
    connect(groupDelay, &QCheckBox::toggled, this, [this](bool on) {
        m_pResponse->SetLower(on ? CResponsePlot::ELower::GroupDelay : CResponsePlot::ELower::Phase);
    });
    side->addWidget(groupDelay);
    // The converter's full scale, so that levels also read in dBu, dBV or volts.
    auto* fullScaleRow = new QHBoxLayout;
    auto* fullScaleLabel = new QLabel(QStringLiteral("&Full scale"), this);
    m_pFullScale = new QLineEdit(this);
    m_pFullScale->setObjectName(QStringLiteral("fullScale"));
    m_pFullScale->setPlaceholderText(QStringLiteral("e.g. 18dBu, -4.2dBV, 1.5V"));
    m_pFullScale->setToolTip(
        QStringLiteral("A full-scale sine's RMS at the converter: levels also read in that unit"));
    fullScaleLabel->setBuddy(m_pFullScale);
    fullScaleRow->addWidget(fullScaleLabel);
    fullScaleRow->addWidget(m_pFullScale, 1);
    side->addLayout(fullScaleRow);
    connect(m_pFullScale, &QLineEdit::editingFinished, this, &CAnalysisWindow::OnFullScale);
    m_pLiveStatus = new QLabel(this);
    m_pLiveStatus->setObjectName(QStringLiteral("liveStatus"));
    m_pLiveStatus->setWordWrap(true);
    m_pLiveStatus->setVisible(false);
    side->addWidget(m_pLiveStatus);
    m_pHold = new QPushButton(QStringLiteral("&Hold"), this);
    m_pHold->setObjectName(QStringLiteral("hold"));
    m_pHold->setCheckable(true);
    m_pHold->setToolTip(QStringLiteral("Keep the figures shown while the measurement goes on"));
    m_pHold->setVisible(false);
    auto* progress = new QHBoxLayout;
    progress->addWidget(m_pProgress, 1);
    progress->addWidget(m_pHold);
    progress->addWidget(m_pCancel);
    side->addLayout(progress);
    // The plots of the measurement, and a sweep's curves in a tab of their own once there is one.
    m_pTabs = new QTabWidget(this);
    m_pTabs->setObjectName(QStringLiteral("tabs"));
    m_pTabs->setDocumentMode(true);
    m_pTabs->setTabBarAutoHide(true); // a tab bar only once there is a sweep beside the measurement
    m_pTabs->addTab(m_pPlots, QStringLiteral("Measurement"));
    m_pSweep = new CSweepPlot(this);
    m_pSweep->setObjectName(QStringLiteral("sweepPlot"));
    m_pSweep->setVisible(false);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_pTabs, 1);
    layout->addLayout(side);
    summary->setMinimumWidth(
        fontMetrics().horizontalAdvance(QStringLiteral("Reference THD+N   -123.45 dB   ")) + 40);

    connect(m_pMeasure, &QPushButton::clicked, this, &CAnalysisWindow::OnMeasure);
    connect(m_pOverlay, &QPushButton::clicked, this, &CAnalysisWindow::OnOverlay);
    connect(m_pLimits, &QPushButton::clicked, this, &CAnalysisWindow::OnLimits);
    connect(&m_worker, &CAnalysisWorker::measuring, this, &CAnalysisWindow::OnMeasuring);
    connect(m_pExport, &QPushButton::clicked, this, &CAnalysisWindow::OnExport);
    connect(m_pSaveImage, &QPushButton::clicked, this, &CAnalysisWindow::OnSaveImage);
    connect(m_pReport, &QPushButton::clicked, this, &CAnalysisWindow::OnReport);
    connect(m_pCancel, &QPushButton::clicked, &m_worker, &CAnalysisWorker::Cancel);
    connect(&m_worker, &CAnalysisWorker::progressed, this, &CAnalysisWindow::OnProgressed);
    connect(&m_worker, &CAnalysisWorker::finished, this, &CAnalysisWindow::OnFinished);
    connect(&m_worker, &CAnalysisWorker::updated, this, &CAnalysisWindow::OnUpdated);
    connect(&m_worker, &CAnalysisWorker::swept, this, &CAnalysisWindow::OnSwept);
    connect(m_pSweepButton, &QPushButton::clicked, this, &CAnalysisWindow::OnSweep);
    ShowReport();
    // Roomy for the plots, but never larger than the screen leaves (a window manager's frame aside).
    QSize size = fontMetrics().height() * QSize(72, 42);
    if (const QScreen* where = screen()) {
        size = size.boundedTo(where->availableGeometry().size() - QSize(16, 48));
    }
    resize(size);
}

CAnalysisWindow::~CAnalysisWindow() {
    m_worker.Cancel();
    m_worker.Wait();
}

void CAnalysisWindow::Analyze(const QString& path) {
    m_strName = QFileInfo(path).fileName();
    setWindowTitle(QStringLiteral("%1 - Vorlanx analysis").arg(m_strName));
    Start(path, false);
}

void CAnalysisWindow::Overlay(const QString& path) {
    Start(path, true);
}

void CAnalysisWindow::OnMeasure() {
    if (m_worker.IsRunning()) {
        return;
    }
    CMeasureDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted) {
        if (!m_report) {
            close(); // opened to measure, and nothing was
        }
        return;
    }
    if (dialog.Continuous()) {
        MeasureContinuously(dialog.OutputDevice(), dialog.InputDevice(), dialog.Average());
    } else {
        Measure(dialog.OutputDevice(), dialog.InputDevice());
    }
}

void CAnalysisWindow::MeasureContinuously(const QString& output, const QString& input, unsigned average) {
    if (m_worker.IsRunning()) {
        return;
    }
    m_strPendingTitle =
        QStringLiteral("Running continuously (%1 to %2) - Vorlanx analysis").arg(output, input);
    m_bContinuous = true;
    m_bMeasuring = true;
    m_bOverlayRunning = false;
    m_pProgress->setVisible(false);
    m_pCancel->setText(QStringLiteral("&Stop"));
    m_pTabs->setCurrentWidget(m_pPlots);
    m_pCancel->setVisible(true);
    m_pHold->setChecked(false);
    m_pHold->setVisible(true);
    m_pLiveStatus->setText(QStringLiteral("Starting: the first figures come after a second or two."));
    m_pLiveStatus->setVisible(true);
    m_pOverlay->setEnabled(false);
    m_pMeasure->setEnabled(false);
    m_worker.StartContinuous(m_stimulus, output.toStdString(), input.toStdString(), average);
}

void CAnalysisWindow::OnSweep() {
    if (m_worker.IsRunning()) {
        return;
    }
    CSweepDialog question(this);
    if (question.exec() != QDialog::Accepted || !question.Spec()) {
        return;
    }
    if (!question.Folder().isEmpty()) {
        Sweep(*question.Spec(), question.Folder());
        return;
    }
    CMeasureDialog devices(this);
    if (devices.exec() == QDialog::Accepted) {
        Sweep(*question.Spec(), QString(), devices.OutputDevice(), devices.InputDevice());
    }
}

void CAnalysisWindow::Sweep(const instrument::CSweepSpec& spec, const QString& folder, const QString& output,
                            const QString& input) {
    if (m_worker.IsRunning()) {
        return;
    }
    m_pProgress->setFormat(QStringLiteral("Step %v of %m"));
    m_pProgress->setRange(0, static_cast<int>(spec.m_aValues.size()));
    m_pProgress->setValue(0);
    m_pProgress->setVisible(true);
    m_pCancel->setVisible(true);
    m_pMeasure->setEnabled(false);
    m_pOverlay->setEnabled(false);
    m_pSweepButton->setEnabled(false);
    m_worker.StartSweep(m_stimulus, spec, folder.toStdString(), output.toStdString(), input.toStdString());
}

const instrument::CSweepResult* CAnalysisWindow::SweepShown() const {
    return m_sweep ? &*m_sweep : nullptr;
}

void CAnalysisWindow::OnSwept(const CAnalysisWorker::CSweepOutcome& outcome) {
    m_pProgress->setRange(0, 1000);
    m_pProgress->setFormat(QStringLiteral("%p%"));
    m_pProgress->setVisible(false);
    m_pCancel->setVisible(false);
    m_pMeasure->setEnabled(true);
    m_pSweepButton->setEnabled(true);
    m_pOverlay->setEnabled(m_report.has_value());
    if (outcome.m_bCancelled) {
        return;
    }
    if (!outcome.m_strError.empty()) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Vorlanx"), QStringLiteral("The sweep failed."),
                        QMessageBox::Ok, this);
        box.setInformativeText(QString::fromStdString(outcome.m_strError).toHtmlEscaped());
        box.exec();
        return;
    }
    m_sweep = outcome.m_result;
    if (m_limits && m_limits->m_dSweepLimitDb) {
        m_sweep->m_dLimitDb = *m_limits->m_dSweepLimitDb;
        instrument::SummariseSweep(*m_sweep);
    }
    m_pSweep->SetSweep(*m_sweep);
    if (m_pTabs->indexOf(m_pSweep) < 0) {
        m_pTabs->addTab(m_pSweep, QStringLiteral("Sweep"));
    }
    m_pTabs->setCurrentWidget(m_pSweep);
    if (!m_report) {
        setWindowTitle(QStringLiteral("Sweep - Vorlanx analysis"));
    }
    m_pReport->setEnabled(true);
    QStringList problems;
    for (const instrument::CSweepStep& step : m_sweep->m_aSteps) {
        if (!step.m_outcome.m_report) {
            problems << QString::fromStdString(instrument::StepText(step.m_dValue) + ": " +
                                               step.m_outcome.Message());
        }
    }
    if (!problems.isEmpty()) {
        m_pWarnings->setText(QStringLiteral("Steps not measured:\n") + problems.join('\n'));
    }
}

QString CAnalysisWindow::LiveStatus() const {
    return m_pLiveStatus->text();
}

void CAnalysisWindow::OnUpdated(const CAnalysisWorker::CResult& update) {
    if (!m_bContinuous) {
        return; // stopped meanwhile
    }
    QString status = QStringLiteral("Update %1").arg(update.m_nUpdate);
    if (update.m_nAveraged > 1) {
        status += QStringLiteral(" \u00b7 average of %1").arg(update.m_nAveraged);
    }
    status += QStringLiteral(" \u00b7 underruns %1 \u00b7 overruns %2")
                  .arg(update.m_nUnderruns)
                  .arg(update.m_nOverruns);
    if (!update.Report()) {
        status += QStringLiteral("\nNot measured: ") + QString::fromStdString(update.m_outcome.Message());
    }
    if (m_pHold->isChecked()) {
        status += QStringLiteral(" (held)");
    }
    m_pLiveStatus->setText(status);
    if (!update.Report() || m_pHold->isChecked()) {
        return;
    }
    if (std::exchange(m_bMeasuring, false)) {
        m_strName = QStringLiteral("Measured live");
        setWindowTitle(m_strPendingTitle);
    }
    m_report = *update.Report();
    m_report->m_fullScale = m_fullScale;
    m_strSource = update.m_strPath;
    m_strSession = instrument::SessionText(update.m_nUnderruns, update.m_nOverruns);
    ShowReport();
}

void CAnalysisWindow::Measure(const QString& output, const QString& input) {
    if (m_worker.IsRunning()) {
        return;
    }
    // The window's name and title change only when the measurement stands: a failed one leaves the
    // window as it was.
    m_strPendingTitle = QStringLiteral("Measured live (%1 to %2) - Vorlanx analysis").arg(output, input);
    m_bMeasuring = true;
    m_bOverlayRunning = false;
    m_pProgress->setValue(0);
    m_pProgress->setVisible(true);
    m_pCancel->setVisible(true);
    m_pOverlay->setEnabled(false);
    m_pMeasure->setEnabled(false);
    m_worker.StartMeasurement(m_stimulus, output.toStdString(), input.toStdString());
}

void CAnalysisWindow::OnMeasuring(bool recording) {
    m_pProgress->setFormat(recording ? QStringLiteral("Measuring %p%") : QStringLiteral("Analysing %p%"));
    m_pProgress->setValue(0);
}

void CAnalysisWindow::Start(const QString& path, bool overlay, const analysis::CAnalysisOptions& options) {
    if (m_worker.IsRunning()) {
        return;
    }
    m_bOverlayRunning = overlay;
    m_pProgress->setFormat(QStringLiteral("%p%"));
    m_pMeasure->setEnabled(false);
    m_pProgress->setValue(0);
    m_pProgress->setVisible(true);
    m_pCancel->setVisible(true);
    m_pOverlay->setEnabled(false);
    m_worker.Start(path.toStdString(), m_stimulus, options);
}

void CAnalysisWindow::OnProgressed(qint64 done, qint64 total) {
    m_pProgress->setValue(total > 0 ? static_cast<int>(1000 * done / total) : 0);
}

void CAnalysisWindow::OnFinished(const CAnalysisWorker::CResult& finished) {
    m_pProgress->setVisible(false);
    m_pCancel->setVisible(false);
    if (std::exchange(m_bContinuous, false)) {
        m_pCancel->setText(QStringLiteral("Cancel"));
        m_pHold->setVisible(false);
        m_pLiveStatus->setText(m_pLiveStatus->text().replace(QStringLiteral(" (held)"), QString()) +
                               QStringLiteral(" \u00b7 stopped"));
        m_bMeasuring = false;
        m_pMeasure->setEnabled(true);
        ShowReport();
        if (!finished.m_strError.empty()) {
            QMessageBox box(QMessageBox::Warning, QStringLiteral("Vorlanx"),
                            QStringLiteral("The continuous measurement stopped."), QMessageBox::Ok, this);
            box.setInformativeText(QString::fromStdString(finished.m_strError).toHtmlEscaped());
            box.exec();
        }
        if (!m_report) {
            close(); // stopped before anything was shown
        }
        return;
    }
    m_pOverlay->setEnabled(m_report.has_value());
    m_pMeasure->setEnabled(true);
    if (finished.m_bCancelled) {
        m_bMeasuring = false;
        if (!m_report && !m_bOverlayRunning) {
            close(); // cancelled before anything was shown
        }
        return;
    }
    const instrument::COutcome& outcome = finished.m_outcome;
    if (outcome.m_eRefusal == analysis::ERefusal::ChannelsToChoose &&
        !finished.m_strPath.starts_with("live: ")) {
        // The window's advice: choose the channels here, and analyse again.
        if (const auto channels = ChooseChannels(outcome.m_nChannels)) {
            analysis::CAnalysisOptions options;
            options.m_nLeftChannel = channels->first;
            options.m_nRightChannel = channels->second;
            Start(QString::fromStdString(finished.m_strPath), m_bOverlayRunning, options);
            return;
        }
    }
    const bool measured = std::exchange(m_bMeasuring, false);
    if (!finished.Report()) {
        const std::string why = finished.m_strError.empty() ? outcome.Message() : finished.m_strError;
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Vorlanx"),
                        measured ? QStringLiteral("The measurement failed.")
                                 : QStringLiteral("The recording cannot be analysed."),
                        QMessageBox::Ok, this);
        box.setInformativeText(QString::fromStdString(why).toHtmlEscaped());
        box.exec();
        if (!m_report) {
            close();
        }
        return;
    }
    if (measured) {
        m_strName = QStringLiteral("Measured live");
        setWindowTitle(m_strPendingTitle);
    }
    analysis::CAnalysisReport report = *finished.Report();
    // A recording without the stimulus's f0 has no response to show: say so, and show what it holds.
    if (!report.m_dFundamentalHz) {
        QString why = QStringLiteral("the stimulus's f0 was not found in it");
        for (const std::string& warning : report.m_aWarnings) {
            if (warning.rfind("No tone", 0) == 0 || warning.find("silent") != std::string::npos) {
                why = QString::fromStdString(warning);
                break;
            }
        }
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Vorlanx"), QStringLiteral("No tone found."),
                        QMessageBox::Ok, this);
        box.setInformativeText((QString::fromStdString(finished.m_strPath) + ": " + why).toHtmlEscaped());
        box.exec();
    }
    if (m_bOverlayRunning) {
        m_aOverlays.emplace_back(QFileInfo(QString::fromStdString(finished.m_strPath)).fileName(),
                                 std::move(report));
    } else {
        m_report = std::move(report);
        m_report->m_fullScale = m_fullScale;
        m_strSource = finished.m_strPath;
        m_strSession = finished.m_strPath.starts_with("live: ")
                           ? instrument::SessionText(finished.m_nUnderruns, finished.m_nOverruns)
                           : std::string();
    }
    ShowReport();
}

std::optional<std::pair<int, int>> CAnalysisWindow::ChooseChannels(int channels) {
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Choose the channels"));
    auto* form = new QFormLayout(&dialog);
    form->addRow(new QLabel(QStringLiteral("The recording has %1 channels. Which hold the device's output "
                                           "and the reference?")
                                .arg(channels)));
    auto* left = new QSpinBox(&dialog);
    auto* right = new QSpinBox(&dialog);
    left->setObjectName(QStringLiteral("leftChannel"));
    right->setObjectName(QStringLiteral("rightChannel"));
    left->setRange(1, channels);
    right->setRange(1, channels);
    left->setValue(1);
    right->setValue(2);
    form->addRow(QStringLiteral("&Left (the device's output):"), left);
    form->addRow(QStringLiteral("&Reference:"), right);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return std::pair{left->value(), right->value()};
}

void CAnalysisWindow::ShowReport() {
    const bool ready = m_report.has_value();
    m_pExport->setEnabled(ready);
    m_pSaveImage->setEnabled(ready || m_sweep.has_value());
    m_pReport->setEnabled(ready || m_sweep.has_value());
    m_pOverlay->setEnabled(ready && !m_worker.IsRunning());
    m_pProgress->setVisible(m_worker.IsRunning() && !m_bContinuous);
    m_pCancel->setVisible(m_worker.IsRunning());
    if (!ready) {
        return;
    }
    const analysis::CAnalysisReport& report = *m_report;
    std::vector<CResponsePlot::CCurve> curves = {
        {m_strName, Points(report), report.m_dDelayMs.value_or(0.0)}};
    for (const auto& [name, overlay] : m_aOverlays) {
        curves.push_back({name, Points(overlay), overlay.m_dDelayMs.value_or(0.0)});
    }
    m_pResponse->SetCurves(std::move(curves), report.m_dSampleRateHz / 2.0);
    m_pSpectrum->SetReport(report);
    const auto set = [&](const char* key, const QString& text) {
        m_summary[QString::fromLatin1(key)]->setText(text);
    };
    set("onset_s",
        report.m_dOnsetS ? Figure(report.m_dOnsetS, 6, "s") : QStringLiteral("not in the recording"));
    set("fundamental_hz", Figure(report.m_dFundamentalHz, 4, "Hz"));
    set("clock_offset_ppm", Figure(report.m_dClockOffsetPpm, 2, "ppm", true));
    set("delay_ms", Figure(report.m_dDelayMs, 4, "ms", true));
    set("polarity", !report.m_dDelayMs ? QStringLiteral("n/a")
                    : report.m_bDelayFromStarts
                        ? QString::fromLatin1(analysis::PolarityName(report.m_ePolarity))
                        : QString::fromLatin1(analysis::PolarityName(report.m_ePolarity)) +
                              QStringLiteral(" (or a delay half a period away)"));
    // A figure within 3 dB of what the noise alone gives says so.
    const auto limited = [](const QString& figure, bool noise) {
        return noise ? figure + QStringLiteral(" (noise)") : figure;
    };
    set("distortion_noise_db",
        limited(Figure(report.m_dDistortionNoiseDb, 2, "dB"), report.m_bDistortionNoiseNoiseLimited));
    set("even_order_db", limited(Figure(report.m_dEvenOrderDb, 2, "dB"), report.m_bEvenOrderNoiseLimited));
    set("odd_order_db", limited(Figure(report.m_dOddOrderDb, 2, "dB"), report.m_bOddOrderNoiseLimited));
    set("noise_floor_dbfs", Figure(report.m_dNoiseFloorDbfs, 2, "dBFS"));
    const auto reference = [&](double value) {
        return report.m_reference.m_bPresent ? std::optional<double>(value) : std::nullopt;
    };
    QString referenceLevel = Figure(reference(report.m_reference.m_dLevelDbfs), 2, "dBFS");
    if (report.m_fullScale && report.m_reference.m_bPresent) {
        const analysis::CFullScale& scale = *report.m_fullScale;
        const double value = scale.From(report.m_reference.m_dLevelDbfs);
        referenceLevel +=
            scale.m_eUnit == analysis::CFullScale::EUnit::Volt
                ? QStringLiteral(" (%1 V)").arg(QString::fromStdString(platform::FormatFigure(value, 4)))
                : QStringLiteral(" (%1 %2)")
                      .arg(QString::fromStdString(platform::FormatFigure(value, 2)),
                           scale.m_eUnit == analysis::CFullScale::EUnit::Dbu ? QStringLiteral("dBu")
                                                                             : QStringLiteral("dBV"));
    }
    set("reference.level_dbfs", referenceLevel);
    set("reference.thd_db", Figure(reference(report.m_reference.m_dThdDb), 2, "dB"));
    set("reference.thd_n_db", Figure(reference(report.m_reference.m_dThdNoiseDb), 2, "dB"));
    // The verdict, as text and in the palette's colours (the highlight for a pass, its turned hue for a
    // failure, so that dark themes keep their contrast); the masks on the Response.
    std::vector<CResponsePlot::CMaskCurve> masks;
    if (m_limits) {
        const instrument::CVerdict verdict = instrument::Judge(report, *m_limits);
        std::size_t failed = 0;
        for (const instrument::CJudgement& each : verdict.m_aLimits) {
            failed += each.m_bPass ? 0 : 1;
        }
        set("verdict",
            verdict.m_bPass
                ? QStringLiteral("PASS (%1 limits)").arg(verdict.m_aLimits.size())
                : QStringLiteral("FAIL (%1 of %2 limits)").arg(failed).arg(verdict.m_aLimits.size()));
        QLabel* shown = m_summary[QStringLiteral("verdict")];
        QPalette colours = shown->palette();
        colours.setColor(QPalette::WindowText, verdict.m_bPass ? palette().color(QPalette::Highlight)
                                                               : TurnedHighlight(palette(), 180));
        shown->setPalette(colours);
        QFont bold = shown->font();
        bold.setBold(true);
        shown->setFont(bold);
        shown->setToolTip(QString::fromStdString(instrument::VerdictText(verdict)));
        for (const instrument::CMask& mask : m_limits->m_aMasks) {
            masks.push_back({mask.m_strFigure, mask.m_aUpper, mask.m_aLower, mask.m_dRelativeToHz});
        }
    } else {
        set("verdict", QStringLiteral("no limits"));
    }
    m_pResponse->SetMasks(std::move(masks));
    QStringList spurs;
    for (const analysis::CSpur& spur : report.m_aSpurs) {
        spurs << QStringLiteral("%1 Hz, %2 dBFS%3")
                     .arg(QString::fromStdString(platform::FormatFigure(spur.m_dFrequencyHz, 1)),
                          QString::fromStdString(platform::FormatFigure(spur.m_dLevelDbfs, 1)),
                          spur.m_strName.empty() ? QString()
                                                 : " (" + QString::fromStdString(spur.m_strName) + ")");
        if (spurs.size() == 3) {
            break; // the loudest; the export has them all
        }
    }
    set("spurs", spurs.isEmpty() ? QStringLiteral("none") : spurs.join('\n'));
    QStringList warnings;
    for (const std::string& warning : report.m_aWarnings) {
        warnings << QString::fromStdString(warning);
    }
    m_pWarnings->setText(warnings.isEmpty() ? QStringLiteral("none") : warnings.join("\n"));
}

QString CAnalysisWindow::SummaryValue(const QString& key) const {
    const auto found = m_summary.find(key);
    return found != m_summary.end() ? found->second->text() : QString();
}

void CAnalysisWindow::OnFullScale() {
    const QString text = m_pFullScale->text().trimmed();
    const std::optional<analysis::CFullScale> scale =
        text.isEmpty() ? std::nullopt : analysis::ParseFullScale(text.toStdString());
    // A level that does not read keeps the field for correcting, in the palette's warning colour.
    QPalette colours = m_pFullScale->palette();
    colours.setColor(QPalette::Text, !text.isEmpty() && !scale ? TurnedHighlight(palette(), 180)
                                                               : palette().color(QPalette::Text));
    m_pFullScale->setPalette(colours);
    m_fullScale = scale;
    if (m_report) {
        m_report->m_fullScale = m_fullScale;
    }
    ShowReport();
}

void CAnalysisWindow::OnLimits() {
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Judge against limits"), QString(),
                                                      QStringLiteral("Limits (*.toml);;All files (*)"));
    if (!path.isEmpty()) {
        LoadLimits(path);
    }
}

bool CAnalysisWindow::LoadLimits(const QString& path) {
    QFile file(path);
    std::string error;
    std::optional<instrument::CLimits> limits;
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString().toStdString();
    } else {
        limits = instrument::ParseLimits(file.readAll().toStdString(), path.toStdString(), error);
    }
    if (!limits) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Vorlanx"),
                        QStringLiteral("The limits cannot be read."), QMessageBox::Ok, this);
        box.setInformativeText((path + ": " + QString::fromStdString(error)).toHtmlEscaped());
        box.exec();
        return false;
    }
    m_limits = std::move(limits);
    ShowReport();
    return true;
}

void CAnalysisWindow::OnOverlay() {
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Overlay a recording"), QString(),
                                                      RecordingFilter());
    if (!path.isEmpty()) {
        Overlay(path);
    }
}

bool CAnalysisWindow::WriteFile(const QString& path, const QByteArray& bytes) {
    platform::COutputFile file;
    std::string problem;
    if (!file.Open(path.toStdString())) {
        problem = file.OpenError();
    } else {
        try {
            file.Write(bytes.constData(), static_cast<std::size_t>(bytes.size()));
            file.Commit();
            return true;
        } catch (const platform::CFileException& error) {
            problem = error.what();
        }
    }
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Vorlanx"),
                    QStringLiteral("The file was not written."), QMessageBox::Ok, this);
    box.setInformativeText((path + ": " + QString::fromStdString(problem)).toHtmlEscaped());
    box.exec();
    return false;
}

void CAnalysisWindow::OnExport() {
    if (!m_report) {
        return;
    }
    QString filter;
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export the report"),
                                                      QFileInfo(m_strName).completeBaseName() + ".csv",
                                                      QStringLiteral("CSV (*.csv);;JSON (*.json)"), &filter);
    if (path.isEmpty()) {
        return;
    }
    const bool json =
        path.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive) ||
        (!path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive) && filter.startsWith("JSON"));
    const std::string text = json ? analysis::ReportJson(*m_report) : analysis::ReportCsv(*m_report);
    WriteFile(path, QByteArray::fromStdString(text));
}

void CAnalysisWindow::OnSaveImage() {
    if (!m_report && !m_sweep) {
        return;
    }
#ifdef VORLANX_HAVE_SVG
    const QString filters = QStringLiteral("PNG image (*.png);;SVG image (*.svg)");
#else
    const QString filters = QStringLiteral("PNG image (*.png)");
#endif
    QString filter;
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save the plots"),
                                     QFileInfo(m_strName).completeBaseName() + ".png", filters, &filter);
    if (path.isEmpty()) {
        return;
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    // The plots with a caption under them, so that a saved picture says what it shows.
    const QStringList caption = Caption();
    const int lineHeight = fontMetrics().lineSpacing();
    QWidget* shown = m_pTabs->currentWidget(); // the measurement's plots, or the sweep's
    const QSize size(shown->width(), shown->height() + lineHeight * (static_cast<int>(caption.size()) + 1));
    const auto paint = [&](QPainter& painter) {
        painter.fillRect(QRect(QPoint(0, 0), size), palette().color(QPalette::Window));
        shown->render(&painter);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.setFont(font());
        for (int i = 0; i < caption.size(); ++i) {
            painter.drawText(QPointF(8, shown->height() + lineHeight * (i + 1)), caption[i]);
        }
    };
#ifdef VORLANX_HAVE_SVG
    if (path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive) || filter.startsWith("SVG")) {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(windowTitle());
        QPainter painter(&svg);
        paint(painter);
        painter.end();
        WriteFile(path, bytes);
        return;
    }
#endif
    QImage image(size * devicePixelRatioF(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatioF());
    QPainter painter(&image);
    paint(painter);
    painter.end();
    image.save(&buffer, "PNG");
    WriteFile(path, bytes);
}

void CAnalysisWindow::OnReport() {
    if (m_sweep && m_pTabs->currentWidget() == m_pSweep) { // the sweep's page
        const QString path =
            QFileDialog::getSaveFileName(this, QStringLiteral("Save the sweep's report"),
                                         QStringLiteral("sweep.html"), QStringLiteral("Web page (*.html)"));
        if (path.isEmpty()) {
            return;
        }
        std::optional<instrument::CVerdict> verdict;
        if (m_limits && !m_limits->m_aSweepBounds.empty()) {
            verdict = instrument::JudgeSweep(*m_sweep, *m_limits);
        }
        const std::string html = instrument::SweepHtml(
            *m_sweep, verdict ? &*verdict : nullptr, m_limits ? &*m_limits : nullptr,
            instrument::MakeReportContext(m_stimulus, "", m_sweep->m_strDevices, "Vorlanx " VORLANX_VERSION));
        WriteFile(path, QByteArray::fromStdString(html));
        return;
    }
    if (!m_report) {
        return;
    }
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save the report"),
                                                      QFileInfo(m_strName).completeBaseName() + ".html",
                                                      QStringLiteral("Web page (*.html)"));
    if (path.isEmpty()) {
        return;
    }
    const bool live = m_strSource.rfind("live: ", 0) == 0;
    instrument::CReportContext context = instrument::MakeReportContext(
        m_stimulus, live ? std::string() : m_strSource, live ? m_strSource.substr(6) : std::string(),
        "Vorlanx " VORLANX_VERSION);
    context.m_strSession = m_strSession;
    std::optional<instrument::CVerdict> verdict;
    if (m_limits) {
        verdict = instrument::Judge(*m_report, *m_limits);
    }
    const std::string html = instrument::ReportHtml(*m_report, verdict ? &*verdict : nullptr,
                                                    m_limits ? &*m_limits : nullptr, context);
    WriteFile(path, QByteArray::fromStdString(html));
}

QStringList CAnalysisWindow::Caption() const {
    QStringList lines;
    if (m_sweep && m_pTabs->currentWidget() == m_pSweep) {
        lines << QStringLiteral("Sweep of the %1, %2 steps - by Vorlanx %3")
                     .arg(QString::fromLatin1(instrument::SweepKindName(m_sweep->m_spec.m_eKind)))
                     .arg(m_sweep->m_aSteps.size())
                     .arg(QStringLiteral(VORLANX_VERSION));
        return lines;
    }
    if (!m_report) {
        return lines;
    }
    const analysis::CAnalysisReport& report = *m_report;
    lines << QStringLiteral("%1 - analysed %2 by Vorlanx %3")
                 .arg(QString::fromStdString(report.m_strRecording),
                      QDateTime::currentDateTime().toString(Qt::ISODate), QStringLiteral(VORLANX_VERSION));
    lines << QStringLiteral(
                 "Stimulus: f0 %1 Hz, %2 Hz, mother amplitude %3, carriers %4 and %5 Hz at %6 and %7, "
                 "Nyquist factor %8")
                 .arg(QString::fromStdString(platform::FormatGeneral15(m_stimulus.m_dFundamentalFreq)))
                 .arg(m_stimulus.m_nSampleRate)
                 .arg(QString::fromStdString(platform::FormatGeneral15(m_stimulus.m_dMotherAmplitude)),
                      QString::fromStdString(platform::FormatGeneral15(m_stimulus.m_dCarrierFreq1)),
                      QString::fromStdString(platform::FormatGeneral15(m_stimulus.m_dCarrierFreq2)),
                      QString::fromStdString(platform::FormatGeneral15(m_stimulus.m_dDaughterAmplitude1)),
                      QString::fromStdString(platform::FormatGeneral15(m_stimulus.m_dDaughterAmplitude2)),
                      QString::fromStdString(platform::FormatGeneral15(m_stimulus.m_dNyquistFactor)));
    if (m_limits) {
        lines << QStringLiteral("Verdict: ") + SummaryValue(QStringLiteral("verdict"));
    }
    return lines;
}

void CAnalysisWindow::closeEvent(QCloseEvent* event) {
    m_worker.Cancel(); // closing cancels the work first
    m_worker.Wait();
    QWidget::closeEvent(event);
}

void CAnalysisWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && event->mimeData()->urls().front().isLocalFile()) {
        event->acceptProposedAction();
    }
}

void CAnalysisWindow::dropEvent(QDropEvent* event) {
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile() && m_onDrop) {
            m_onDrop(url.toLocalFile());
        }
    }
    event->acceptProposedAction();
}
