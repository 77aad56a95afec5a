#include "app/dialog/vorlanx_dlg.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <exception>
#include <optional>
#include <string_view>

#include "app/analysis/analysis_window.h"
#include "app/app_icon.h"
#include "app/dialog/about_dlg.h"
#include "app/dialog/dialog_units.h"
#include "app/dialog/output_group.h"
#include "app/dialog/preview_panel.h"
#include "generation/generate_job.h"
#include "generation/settings_fields.h"
#include "platform/number_text.h"
#include <QComboBox>

enum class EControlKind { Edit, PushButton, Label, GroupBox };

// A control of the dialog's table: kind, ID, text and place.
struct CControl {
    EControlKind m_eKind;
    int m_nId; // 0 for labels and group boxes
    const char* m_szText;
    int m_nX, m_nY, m_nWidth, m_nHeight; // dialog units
    // An edit's accessible name (what a screen reader says it edits), or the ID of the edit that a
    // label names; the three "Amplitude" and two "Carrier freq/Hz" labels need names that differ.
    const char* m_szAccessibleName = nullptr;
    int m_nBuddy = 0;
};

namespace {

constexpr auto kEdit = EControlKind::Edit;
constexpr auto kButton = EControlKind::PushButton;
constexpr auto kLabel = EControlKind::Label;
constexpr auto kGroup = EControlKind::GroupBox;

// The dialog's controls in tab order; the About button is last.
constexpr CControl kControls[] = {
    {kEdit, CVorlanxDlg::IDC_FILE_NAME, "", 66, 24, 198, 12, "File name"},
    {kEdit, CVorlanxDlg::IDC_DURATION, "", 66, 42, 60, 12, "Duration in seconds"},
    {kEdit, CVorlanxDlg::IDC_SAMPLE_RATE, "", 66, 60, 60, 12, "Sample rate in Hz"},
    {kEdit, CVorlanxDlg::IDC_FUNDAMENTAL_FREQ, "", 84, 96, 60, 12, "Fundamental frequency in Hz"},
    {kEdit, CVorlanxDlg::IDC_MOTHER_AMPLITUDE, "", 84, 114, 60, 12, "Amplitude, mother signal"},
    {kEdit, CVorlanxDlg::IDC_NYQUIST_FACTOR, "", 204, 114, 60, 12, "Nyquist factor"},
    {kEdit, CVorlanxDlg::IDC_CARRIER_FREQ1, "", 66, 150, 60, 12,
     "Carrier frequency in Hz, daughter signal 1"},
    {kEdit, CVorlanxDlg::IDC_DAUGHTER_AMPLITUDE1, "", 66, 168, 60, 12, "Amplitude, daughter signal 1"},
    {kEdit, CVorlanxDlg::IDC_CARRIER_FREQ2, "", 192, 150, 60, 12,
     "Carrier frequency in Hz, daughter signal 2"},
    {kEdit, CVorlanxDlg::IDC_DAUGHTER_AMPLITUDE2, "", 192, 168, 60, 12, "Amplitude, daughter signal 2"},
    {kButton, CVorlanxDlg::IDC_GENERATE, "Generate!", 7, 197, 48, 14},
    {kButton, CVorlanxDlg::IDCANCEL, "Done", 217, 197, 50, 14},
    {kLabel, 0, "File name", 12, 24, 36, 8, nullptr, CVorlanxDlg::IDC_FILE_NAME},
    {kLabel, 0, "Duration/sec", 12, 42, 42, 8, nullptr, CVorlanxDlg::IDC_DURATION},
    {kLabel, 0, "Sample rate/Hz", 12, 60, 54, 12, nullptr, CVorlanxDlg::IDC_SAMPLE_RATE},
    {kLabel, 0, "Carrier freq/Hz", 12, 150, 54, 8, nullptr, CVorlanxDlg::IDC_CARRIER_FREQ1},
    {kGroup, 0, "Mother signal", 6, 84, 261, 48},
    {kGroup, 0, "General parameters", 6, 12, 261, 66},
    {kGroup, 0, "Doughter signal(s)", 6, 138, 261, 54},
    {kLabel, 0, "Amplitude", 12, 168, 54, 8, nullptr, CVorlanxDlg::IDC_DAUGHTER_AMPLITUDE1},
    {kLabel, 0, "Fundamental freq/Hz", 12, 96, 72, 8, nullptr, CVorlanxDlg::IDC_FUNDAMENTAL_FREQ},
    {kLabel, 0, "Amplitude", 12, 114, 54, 8, nullptr, CVorlanxDlg::IDC_MOTHER_AMPLITUDE},
    {kLabel, 0, "Carrier freq/Hz", 138, 150, 54, 8, nullptr, CVorlanxDlg::IDC_CARRIER_FREQ2},
    {kLabel, 0, "Amplitude", 138, 168, 54, 8, nullptr, CVorlanxDlg::IDC_DAUGHTER_AMPLITUDE2},
    {kLabel, 0, "Nyquist factor", 150, 114, 48, 8, nullptr, CVorlanxDlg::IDC_NYQUIST_FACTOR},
};

// The original window in dialog units, and what the preview adds to its right at most; a preview
// narrower than the least is left out.
constexpr int kOriginalWidth = 274;
constexpr int kHeight = 218;
constexpr int kPreviewWidth = 266;
// The preview follows typing this long after the last change.
constexpr int kPreviewDelayMs = 50;
// Room a window manager's title bar and borders take around the window, in pixels.
constexpr QSize kWindowFrame(16, 48);

// A job that lasts longer than this shows the progress dialog; the default file takes 0.03 s.
constexpr int kProgressDelayMs = 500;
// The progress bar's steps.
constexpr int kProgressSteps = 1000;

// Between "Generate!" and "Done" in the bottom row, as wide as "Done".
constexpr CControl kAboutButton = {kButton, 0, "About...", 112, 197, 50, 14};
// Under the file name's right end, where the first group leaves room beside the duration.
constexpr CControl kBrowseButton = {kButton, 0, "Browse...", 214, 41, 50, 14};
// Under the preview and the "Output" group, in the row of "Generate!" and "Done".
constexpr CControl kAnalyzeButton = {kButton, 0, "Analyze...", kOriginalWidth - 1, 197, 48, 14};
constexpr CControl kPlayButton = {kButton, 0, "Play", kOriginalWidth + 51, 197, 48, 14};
constexpr CControl kMeasureButton = {kButton, 0, "Measure...", kOriginalWidth + 103, 197, 48, 14};
// The column right of the original window holds the preview, the "Output" group level with the
// daughters' group, and under them the buttons; it is never narrower than the group needs.
constexpr int kLeastColumn = COutputGroup::kLeastWidth + 5;
constexpr int kOutputTop = 138;
// The preview panel's height, above the "Output" group.
constexpr int kPreviewHeight = kOutputTop - 16;

QString RangeMessage(const char* what, const char* low, const char* high) {
    return QStringLiteral("Please enter %1 between %2 and %3.").arg(what, low, high);
}

// The horizontal dialog unit (x 4, in pixels) at which every label of the table shows its whole
// text with a gap before its field, and every button and group box its text with room around it.
// The layout was drawn for a font that is narrower for its height than most desktops' fonts.
int FittingBaseX(const QFont& font) {
    const QFontMetrics metrics(font);
    const int gap = std::max(3, metrics.averageCharWidth() / 2);
    int base = 0;
    const auto need = [&](const CControl& control) {
        const int text = metrics.horizontalAdvance(QString::fromUtf8(control.m_szText));
        const int room =
            control.m_eKind == EControlKind::Label ? text + gap : text + 2 * metrics.averageCharWidth();
        base = std::max(base, (4 * room + control.m_nWidth - 1) / control.m_nWidth);
    };
    for (const CControl& control : kControls) {
        if (control.m_eKind != EControlKind::Edit) {
            need(control);
        }
    }
    need(kAboutButton);
    need(kBrowseButton);
    need(kAnalyzeButton);
    need(kPlayButton);
    need(kMeasureButton);
    need({kButton, 0, "Stop", 0, 0, kPlayButton.m_nWidth, 14}); // Play's other text
    return std::max(base, COutputGroup::FittingBaseX(font));
}

// `font` a `factor` smaller, by points or by pixels, whichever it is given in.
QFont Scaled(QFont font, double factor) {
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() * factor);
    } else {
        font.setPixelSize(std::max(1, static_cast<int>(font.pixelSize() * factor)));
    }
    return font;
}

// "~" and "~/..." name the home folder, as in a shell.
QString ExpandHome(const QString& name) {
    if (name == QStringLiteral("~") || name.startsWith(QStringLiteral("~/"))) {
        return QDir::homePath() + name.mid(1);
    }
    return name;
}

} // namespace

CVorlanxDlg::CVorlanxDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("102"));
    setWindowTitle(QStringLiteral("Ombrel test signal generator V1.0 - by Vorlanx"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(AppIcon());

    QWidget* previous = nullptr;
    const auto place = [&](const CControl& control) -> QWidget* {
        QWidget* widget = nullptr;
        const QString text = QString::fromUtf8(control.m_szText);
        switch (control.m_eKind) {
        case EControlKind::Edit: {
            auto* edit = new QLineEdit(this);
            edit->setAccessibleName(QString::fromUtf8(control.m_szAccessibleName));
            m_edits[control.m_nId] = edit;
            widget = edit;
            break;
        }
        case EControlKind::PushButton: {
            auto* button = new QPushButton(text, this);
            button->setAutoDefault(false); // neither button is the default: Enter is the OK command
            widget = button;
            break;
        }
        case EControlKind::Label: {
            auto* label = new QLabel(text, this);
            label->setTextFormat(Qt::PlainText);
            label->setBuddy(Edit(control.m_nBuddy)); // the edits come first in the table
            widget = label;
            break;
        }
        case EControlKind::GroupBox: {
            auto* group = new QGroupBox(text, this);
            group->lower(); // behind the controls it frames, so it never takes their clicks
            widget = group;
            break;
        }
        }
        if (control.m_nId != 0) {
            widget->setObjectName(QString::number(control.m_nId));
        }
        m_aPlaced.push_back({widget, &control});
        if (control.m_eKind == EControlKind::Edit || control.m_eKind == EControlKind::PushButton) {
            if (previous != nullptr) {
                setTabOrder(previous, widget);
            }
            previous = widget;
        }
        return widget;
    };
    for (const CControl& control : kControls) {
        place(control);
    }
    m_pGenerate = findChild<QPushButton*>(QString::number(IDC_GENERATE));
    m_pDone = findChild<QPushButton*>(QString::number(IDCANCEL));
    m_pAbout = static_cast<QPushButton*>(place(kAboutButton));
    m_pAbout->setObjectName(QStringLiteral("about"));
    m_pAnalyze = static_cast<QPushButton*>(place(kAnalyzeButton)); // after About... in the tab order
    m_pAnalyze->setObjectName(QStringLiteral("analyze"));
    m_pAnalyze->setToolTip(QStringLiteral("Measure a recording of this signal (or drop one on the window)"));
    m_pPlay = static_cast<QPushButton*>(place(kPlayButton));
    m_pPlay->setObjectName(QStringLiteral("play"));
    m_pPlay->setToolTip(
        QStringLiteral("Listen to this signal on the default sound output; a change of the fields stops it"));
    m_pMeasure = static_cast<QPushButton*>(place(kMeasureButton));
    m_pMeasure->setObjectName(QStringLiteral("measure"));
    m_pMeasure->setToolTip(
        QStringLiteral("Play this signal through a device and record its answer to measure it"));
    // Browse... comes right after the file name in the tab order; the template's order stays.
    m_pBrowse = static_cast<QPushButton*>(place(kBrowseButton));
    m_pBrowse->setObjectName(QStringLiteral("browse"));
    setTabOrder(m_pMeasure, Edit(IDC_FILE_NAME));
    setTabOrder(Edit(IDC_FILE_NAME), m_pBrowse);
    setTabOrder(m_pBrowse, Edit(IDC_DURATION));
    setAcceptDrops(true);

    connect(m_pGenerate, &QPushButton::clicked, this, &CVorlanxDlg::OnGenerate);
    connect(m_pDone, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_pAbout, &QPushButton::clicked, this, &CVorlanxDlg::OnAbout);
    connect(m_pBrowse, &QPushButton::clicked, this, &CVorlanxDlg::OnBrowse);
    connect(m_pAnalyze, &QPushButton::clicked, this, &CVorlanxDlg::OnAnalyze);
    connect(m_pPlay, &QPushButton::clicked, this, &CVorlanxDlg::OnPlay);
    connect(m_pMeasure, &QPushButton::clicked, this, &CVorlanxDlg::OnMeasure);
    connect(&m_audition, &CAuditionWorker::finished, this, &CVorlanxDlg::OnAuditionFinished);

    m_pProgressDue = new QTimer(this);
    m_pProgressDue->setSingleShot(true);
    m_pProgressDue->setInterval(kProgressDelayMs);
    connect(m_pProgressDue, &QTimer::timeout, this, &CVorlanxDlg::OnProgressDue);
    connect(&m_worker, &CGenerationWorker::waitBegun, this, &CVorlanxDlg::BeginWait);
    connect(&m_worker, &CGenerationWorker::waitEnded, this, &CVorlanxDlg::EndWait);
    connect(&m_worker, &CGenerationWorker::progressed, this, &CVorlanxDlg::OnProgressed);
    connect(&m_worker, &CGenerationWorker::waitingForReader, this, &CVorlanxDlg::OnWaitingForReader);
    connect(&m_worker, &CGenerationWorker::finished, this, &CVorlanxDlg::OnJobFinished);

    // The output group's fields are saved and checked like the table's, after them.
    m_pOutput = new COutputGroup(this);
    m_pOutput->lower();
    for (auto [id, edit] :
         {std::pair{IDC_FADE_IN, m_pOutput->FadeIn()}, std::pair{IDC_FADE_OUT, m_pOutput->FadeOut()}}) {
        edit->setObjectName(QString::number(id));
        m_edits[id] = edit;
    }
    setTabOrder(Edit(IDC_DAUGHTER_AMPLITUDE2), m_pOutput->FormatBox());
    setTabOrder(m_pOutput->FormatBox(), m_pOutput->FadeIn());
    setTabOrder(m_pOutput->FadeIn(), m_pOutput->FadeOut());
    setTabOrder(m_pOutput->FadeOut(), m_pGenerate);
    connect(m_pOutput, &COutputGroup::formatChosen, this, &CVorlanxDlg::OnFormatChosen);
    connect(Edit(IDC_FILE_NAME), &QLineEdit::textEdited, this, &CVorlanxDlg::OnFileNameEdited);

    m_pPreview = new CPreviewPanel(this);
    m_pPreview->lower();
    m_pPreviewDue = new QTimer(this);
    m_pPreviewDue->setSingleShot(true);
    m_pPreviewDue->setInterval(kPreviewDelayMs);
    connect(m_pPreviewDue, &QTimer::timeout, this, &CVorlanxDlg::UpdatePreview);
    for (const auto& [id, edit] : m_edits) {
        connect(edit, &QLineEdit::textChanged, m_pPreviewDue, qOverload<>(&QTimer::start));
        connect(edit, &QLineEdit::textEdited, &m_audition,
                &CAuditionWorker::Cancel); // what plays is what they say
    }
    connect(m_pOutput->FormatBox(), &QComboBox::activated, &m_audition, &CAuditionWorker::Cancel);

    ApplyLayout(screen());
    UpdateData(false);
    UpdatePreview();
    Edit(IDC_FILE_NAME)->setFocus();
}

void CVorlanxDlg::ApplyLayout(const QScreen* screen) {
    m_pLayoutScreen = screen;
    const QSize room =
        screen != nullptr ? screen->availableGeometry().size() - kWindowFrame : QSize(1 << 20, 1 << 20);
    // The desktop's font, unless even the original window would not fit the screen at its size.
    QFont font = DialogFont();
    std::optional<CDialogUnits> units;
    for (int attempt = 0;; ++attempt) {
        units.emplace(font, FittingBaseX(font));
        const QSize original = units->ToPixels(kOriginalWidth + kLeastColumn, kHeight);
        if ((original.width() <= room.width() && original.height() <= room.height()) || attempt == 12) {
            break;
        }
        font = Scaled(font, 0.9);
    }
    setFont(font);
    // The right column takes what the screen leaves beside the original window, up to the
    // preview's full width.
    const int left = (room.width() - units->ToPixels(kOriginalWidth, kHeight).width()) * 4 / units->BaseX();
    const int column = std::clamp(left, kLeastColumn, kPreviewWidth);
    setFixedSize(units->ToPixels(kOriginalWidth + column, kHeight));
    for (const auto& [widget, control] : m_aPlaced) {
        widget->setGeometry(
            units->ToPixels(control->m_nX, control->m_nY, control->m_nWidth, control->m_nHeight));
    }
    m_pPreview->setGeometry(units->ToPixels(kOriginalWidth - 1, 12, column - 5, kPreviewHeight));
    m_pPreview->Layout(*units, column - 5, kPreviewHeight);
    m_pOutput->setGeometry(
        units->ToPixels(kOriginalWidth - 1, kOutputTop, column - 5, COutputGroup::kHeight));
    m_pOutput->Layout(*units, column - 5);
}

void CVorlanxDlg::OnFormatChosen() {
    QLineEdit* name = Edit(IDC_FILE_NAME);
    const QString renamed = COutputGroup::NameFor(name->text(), m_pOutput->Container());
    if (renamed != name->text()) {
        name->setText(renamed);
    }
    m_pPreviewDue->start();
}

void CVorlanxDlg::OnFileNameEdited(const QString& name) {
    // A name typed with the other container's ending chooses that container, at the same depth.
    const bool flac = m_pOutput->Container() == EContainer::Flac;
    if (COutputGroup::NameFor(name, m_pOutput->Container()) == name) {
        return; // the ending suits the choice, or names neither container
    }
    m_pOutput->Select(m_pOutput->Format(), !flac);
    m_pPreviewDue->start();
}

bool CVorlanxDlg::SaveFailed(int id, const QString& message) {
    ShowMessage(message.toStdString(), MB_ICONEXCLAMATION);
    QLineEdit* edit = Edit(id);
    edit->setFocus();
    edit->selectAll();
    return false;
}

namespace {

// The dialog's box for each settings field it shows (the format is the Output group's choice).
const std::pair<const char*, int> kFieldBoxes[] = {
    {"duration", CVorlanxDlg::IDC_DURATION},
    {"sample-rate", CVorlanxDlg::IDC_SAMPLE_RATE},
    {"fundamental", CVorlanxDlg::IDC_FUNDAMENTAL_FREQ},
    {"mother-amplitude", CVorlanxDlg::IDC_MOTHER_AMPLITUDE},
    {"carrier1", CVorlanxDlg::IDC_CARRIER_FREQ1},
    {"daughter-amplitude1", CVorlanxDlg::IDC_DAUGHTER_AMPLITUDE1},
    {"carrier2", CVorlanxDlg::IDC_CARRIER_FREQ2},
    {"daughter-amplitude2", CVorlanxDlg::IDC_DAUGHTER_AMPLITUDE2},
    {"nyquist-factor", CVorlanxDlg::IDC_NYQUIST_FACTOR},
    {"fade-in", CVorlanxDlg::IDC_FADE_IN},
    {"fade-out", CVorlanxDlg::IDC_FADE_OUT},
};

// The settings table's fields the dialog has a box for, in the table's order (the transfer order),
// each with its box.
const std::vector<std::pair<const CSettingsField*, int>>& BoxedFields() {
    static const std::vector<std::pair<const CSettingsField*, int>> fields = [] {
        std::vector<std::pair<const CSettingsField*, int>> list;
        for (const CSettingsField& field : SettingsFields()) {
            for (const auto& [name, id] : kFieldBoxes) {
                if (std::string_view(field.m_szName) == name) {
                    list.emplace_back(&field, id);
                }
            }
        }
        return list;
    }();
    return fields;
}

// The text in box `edit` as `field`'s value, or nullopt when it does not parse as one.
std::optional<double> ParseField(const CSettingsField& field, const QString& text) {
    if (field.m_eKind == CSettingsField::EKind::SampleRate) {
        const auto rate = platform::ParseUnsigned32(text.toStdString());
        return rate ? std::optional<double>(*rate) : std::nullopt;
    }
    return platform::ParseDouble(text.toStdString());
}

void StoreField(const CSettingsField& field, double value, CGenerationSettings& settings) {
    if (field.m_eKind == CSettingsField::EKind::SampleRate) {
        settings.m_nSampleRate = static_cast<std::uint32_t>(value);
    } else {
        settings.*field.m_pDouble = value;
    }
}

} // namespace

bool CVorlanxDlg::SaveField(const CSettingsField& field, int id, CGenerationSettings& settings) {
    const QString text = Edit(id)->text();
    const auto value = ParseField(field, text);
    if (!value) {
        if (field.m_eKind == CSettingsField::EKind::SampleRate) {
            return SaveFailed(
                id, QStringLiteral("Please enter a whole number for %1.").arg(field.m_szDialogName));
        }
        const QString hint = platform::HasDecimalComma(text.toStdString())
                                 ? QStringLiteral(" Use a decimal point, not a comma.")
                                 : QString();
        return SaveFailed(id,
                          QStringLiteral("Please enter a number for %1.%2").arg(field.m_szDialogName, hint));
    }
    StoreField(field, *value, settings); // stored before its range check
    if (!field.InRange(*value)) {
        return SaveFailed(
            id, RangeMessage(field.m_szDialogWhat, field.LowText().c_str(), field.HighText().c_str()));
    }
    return true;
}

bool CVorlanxDlg::UpdateData(bool save) {
    if (!save) {
        Edit(IDC_FILE_NAME)->setText(QString::fromStdString(m_settings.m_strFileName));
        for (const auto& [field, id] : BoxedFields()) {
            Edit(id)->setText(QString::fromStdString(field->ValueText(m_settings)));
        }
        m_pOutput->Select(m_settings.m_eFormat, ChosenContainer(m_settings) == EContainer::Flac);
        return true;
    }

    // The order matters: a failure stops the transfer, and the later fields keep their values.
    const QString name = Edit(IDC_FILE_NAME)->text();
    if (name.trimmed().isEmpty()) {
        return SaveFailed(IDC_FILE_NAME, QStringLiteral("Please enter a file name."));
    }
    m_settings.m_strFileName = ExpandHome(name).toStdString();
    return SaveSignalFields(m_settings);
}

bool CVorlanxDlg::SaveSignalFields(CGenerationSettings& settings) {
    for (const auto& [field, id] : BoxedFields()) {
        if (!SaveField(*field, id, settings)) {
            return false;
        }
    }
    settings.m_eFormat = m_pOutput->Format();
    settings.m_eContainer = m_pOutput->Container();
    return true;
}

std::optional<CGenerationSettings> CVorlanxDlg::StimulusSettings() {
    CGenerationSettings settings = m_settings;
    if (!SaveSignalFields(settings)) {
        return std::nullopt;
    }
    return settings;
}

void CVorlanxDlg::UpdatePreview() {
    CGenerationSettings settings = m_settings;
    QStringList unusable;
    settings.m_strFileName = ExpandHome(Edit(IDC_FILE_NAME)->text()).toStdString();
    for (const auto& [field, id] : BoxedFields()) {
        const auto value = ParseField(*field, Edit(id)->text());
        if (value && field->InRange(*value)) {
            StoreField(*field, *value, settings);
        } else {
            unusable << Edit(id)->accessibleName();
        }
    }
    settings.m_eFormat = m_pOutput->Format();
    settings.m_eContainer = m_pOutput->Container();
    m_pPreview->ShowSettings(settings, unusable);
}

void CVorlanxDlg::BeginWait() {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

void CVorlanxDlg::EndWait() {
    QGuiApplication::restoreOverrideCursor();
}

void CVorlanxDlg::ShowMessage(const std::string& text, unsigned type) {
    ShowDetailedMessage(text, type, {});
}

void CVorlanxDlg::ShowDetailedMessage(const std::string& text, unsigned type, const std::string& detail) {
    QMessageBox box(type == MB_ICONEXCLAMATION ? QMessageBox::Warning : QMessageBox::Critical,
                    QStringLiteral("Vorlanx"), QString::fromStdString(text), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    if (!detail.empty()) {
        box.setInformativeText(QString::fromStdString(detail).toHtmlEscaped());
    }
    box.exec();
}

void CVorlanxDlg::OnGenerate() {
    if (m_bGenerating || !UpdateData(true)) {
        return; // the user was told what is wrong; no file from settings that failed the checks
    }
    m_bGenerating = true;
    m_dProgress = 0.0;
    m_strProgressLabel = QStringLiteral("Writing %1").arg(QString::fromStdString(m_settings.m_strFileName));
    m_strWaitingLabel.clear();
    m_pPreview->StopWholeFilePeak(); // the generation needs the processors, and reports the peak
    m_pGenerate->setEnabled(false);
    m_pProgressDue->start();
    m_worker.Start(m_settings);
}

void CVorlanxDlg::OnProgressDue() {
    if (!m_worker.IsRunning() || m_pProgress != nullptr) {
        return;
    }
    m_pProgress = new QProgressDialog(this);
    m_pProgress->setObjectName(QStringLiteral("progress"));
    m_pProgress->setWindowTitle(QStringLiteral("Vorlanx"));
    m_pProgress->setLabelText(m_strWaitingLabel.isEmpty() ? m_strProgressLabel : m_strWaitingLabel);
    m_pProgress->setCancelButtonText(QStringLiteral("Cancel"));
    m_pProgress->setRange(0, kProgressSteps);
    m_pProgress->setAutoClose(false);
    m_pProgress->setAutoReset(false);
    m_pProgress->setMinimumDuration(0);
    // Not modal: the main window's close button must still close it (closing cancels the job
    // first), and "Generate!" stays disabled until the job ends.
    m_pProgress->setWindowModality(Qt::NonModal);
    m_pProgress->setValue(static_cast<int>(m_dProgress * kProgressSteps));
    // Cancel, Escape and the window's close button all cancel.
    connect(m_pProgress, &QProgressDialog::canceled, &m_worker, &CGenerationWorker::Cancel);
    m_pProgress->show();
}

void CVorlanxDlg::OnWaitingForReader(const QString& path) {
    // Nothing moves until a program reads the FIFO: say so at once, and let Cancel end the wait.
    m_strWaitingLabel = QStringLiteral("Waiting for a program to read %1 ...").arg(path);
    OnProgressDue();
    if (m_pProgress != nullptr) {
        m_pProgress->setLabelText(m_strWaitingLabel);
    }
}

void CVorlanxDlg::OnProgressed(qint64 framesWritten, qint64 frameCount) {
    if (!m_strWaitingLabel.isEmpty()) { // a reader came
        m_strWaitingLabel.clear();
        if (m_pProgress != nullptr) {
            m_pProgress->setLabelText(m_strProgressLabel);
        }
    }
    m_dProgress = frameCount > 0 ? static_cast<double>(framesWritten) / static_cast<double>(frameCount) : 1.0;
    if (m_pProgress != nullptr && !m_pProgress->wasCanceled()) {
        m_pProgress->setValue(static_cast<int>(m_dProgress * kProgressSteps));
    }
}

void CVorlanxDlg::OnJobFinished(const CGenerationWorker::CResult& result) {
    if (!m_bGenerating) {
        return;
    }
    m_pProgressDue->stop();
    delete m_pProgress;
    m_pProgress = nullptr;
    m_pGenerate->setEnabled(true);
    if (const auto& written = result.m_written) {
        m_pPreviewDue->stop(); // what was written stays until the fields change
        // Where it went, whatever the name typed: "~" expanded, a relative name made absolute.
        m_pPreview->ShowWritten(QFileInfo(QString::fromStdString(written->m_strPath)).absoluteFilePath(),
                                written->m_nBytes, written->m_dSeconds, written->m_dPeak);
    }
    // A job cancelled by closing the dialog leaves without a word.
    if (const auto& message = result.m_message; message && !m_bClosing) {
        ShowDetailedMessage(message->m_strText, message->m_nType, message->m_strDetail);
    }
    m_bGenerating = false;
    emit generationFinished();
}

void CVorlanxDlg::done(int result) {
    m_audition.Cancel(); // closing stops the sound
    m_audition.Wait();
    if (m_bGenerating) {
        m_bClosing = true;
        m_worker.Cancel();
        m_worker.Wait();
        // The job's last signals (the end of the wait, the end of the job) are queued: take them now.
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
        QCoreApplication::sendPostedEvents(&m_worker, QEvent::MetaCall);
        m_bClosing = false;
    }
    QDialog::done(result);
}

void CVorlanxDlg::OnOK() {
    if (UpdateData(true)) {
        accept();
    }
}

void CVorlanxDlg::OnBrowse() {
    const QString current = ExpandHome(Edit(IDC_FILE_NAME)->text());
    const QString chosen = QFileDialog::getSaveFileName(
        this, QStringLiteral("File name"), current.isEmpty() ? QDir::homePath() : current,
        QStringLiteral("WAV files (*.wav *.WAV);;All files (*)"), nullptr, QFileDialog::DontConfirmOverwrite);
    if (!chosen.isEmpty()) {
        Edit(IDC_FILE_NAME)->setText(chosen);
    }
}

void CVorlanxDlg::OnPlay() {
    if (m_audition.IsRunning()) {
        m_audition.Cancel(); // "Stop"
        return;
    }
    const std::optional<CGenerationSettings> settings = StimulusSettings();
    if (!settings) {
        return; // the field was named
    }
    m_pPlay->setText(QStringLiteral("Stop"));
    m_audition.Start(*settings);
}

void CVorlanxDlg::OnAuditionFinished(const CAuditionWorker::COutcome& finished) {
    m_pPlay->setText(QStringLiteral("Play"));
    if (m_bClosing) {
        return;
    }
    const CAuditionWorker::COutcome* outcome = &finished;
    if (!outcome->m_strError.empty()) {
        ShowMessage("Cannot play the signal: " + outcome->m_strError, MB_ICONEXCLAMATION);
    } else if (outcome->m_nUnderruns > 0 && !outcome->m_bStopped) {
        ShowMessage(
            std::to_string(outcome->m_nUnderruns) +
                " underrun(s): the sound output played silence where the signal was not there in time.",
            MB_ICONEXCLAMATION);
    }
}

void CVorlanxDlg::OnMeasure() {
    const std::optional<CGenerationSettings> stimulus = StimulusSettings();
    if (!stimulus) {
        return;
    }
    m_audition.Cancel(); // the devices are the measurement's now
    m_audition.Wait();
    auto* window = new CAnalysisWindow(*stimulus, this);
    window->SetDropHandler([this](const QString& dropped) { AnalyzeDropped(dropped); });
    window->show();
    window->OnMeasure();
}

void CVorlanxDlg::OnAnalyze() {
    const std::optional<CGenerationSettings> stimulus = StimulusSettings();
    if (!stimulus) {
        return; // the field was named; nothing is analysed
    }
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Analyze a recording"), QString(),
                                                      CAnalysisWindow::RecordingFilter());
    if (!path.isEmpty()) {
        OpenAnalysis(path, *stimulus);
    }
}

CAnalysisWindow* CVorlanxDlg::OpenAnalysis(const QString& path, const CGenerationSettings& stimulus) {
    auto* window = new CAnalysisWindow(stimulus, this);
    // A file dropped on the analysis window is analysed like one dropped here.
    window->SetDropHandler([this](const QString& dropped) { AnalyzeDropped(dropped); });
    window->show();
    window->Analyze(path);
    return window;
}

void CVorlanxDlg::AnalyzeDropped(const QString& path) {
    if (const std::optional<CGenerationSettings> stimulus = StimulusSettings()) {
        OpenAnalysis(path, *stimulus);
    }
}

void CVorlanxDlg::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && event->mimeData()->urls().front().isLocalFile()) {
        event->acceptProposedAction();
    }
}

void CVorlanxDlg::dropEvent(QDropEvent* event) {
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            AnalyzeDropped(url.toLocalFile());
        }
    }
    event->acceptProposedAction();
}

void CVorlanxDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CVorlanxDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            button->click(); // Enter on a focused button presses it, as Space does
        } else {
            OnOK();
        }
        return;
    }
    QDialog::keyPressEvent(event); // Escape: close without a transfer
}

void CVorlanxDlg::showEvent(QShowEvent* event) {
    if (screen() != m_pLayoutScreen) { // shown on another screen than the one it was laid out for
        ApplyLayout(screen());
    }
    QDialog::showEvent(event);
    if (!m_bCentred && parentWidget() == nullptr) {
        m_bCentred = true;
        if (const QScreen* screen = this->screen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
}
