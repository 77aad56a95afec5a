// The dialogs on the offscreen platform: controls found by object name, filled, buttons pressed,
// message boxes answered by a timer, and the settings and files compared.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/dialog/about_dlg.h"
#include "app/dialog/preview_panel.h"
#include "app/dialog/vorlanx_dlg.h"
#include "app/vorlanx_app.h"
#include "generation/generate_job.h"
#include "generation/job_plan.h"
#include "tests/app/modal_answerer.h"
#include "tests/support/test_support.h"

namespace {

QLineEdit* Edit(const QDialog& dialog, int id) {
    return dialog.findChild<QLineEdit*>(QString::number(id));
}
QPushButton* Button(const QDialog& dialog, const QString& name) {
    return dialog.findChild<QPushButton*>(name);
}

// Edit IDs in tab order.
const int kEdits[] = {1000, 1001, 1002, 1006, 1007, 1010, 1004, 1005, 1008, 1009};

class VorlanxDlgTest : public testing::Test {
protected:
    void SetUp() override {
        m_dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_dialog));
    }
    void Fill(int id, const QString& text) {
        QLineEdit* edit = Edit(m_dialog, id);
        edit->setFocus();
        edit->selectAll();
        if (text.isEmpty()) {
            QTest::keyClick(edit, Qt::Key_Delete);
        } else {
            QTest::keyClicks(edit, text); // typing replaces the selection
        }
    }
    // Presses "Generate!" and waits until the job and its message are over.
    void GenerateAndWait() {
        QTest::mouseClick(Button(m_dialog, "1003"), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !m_dialog.IsGenerating(); }, 20000));
    }
    // Short, quick settings for a file in `dir`.
    void FillShort(const std::string& path) {
        Edit(m_dialog, 1000)->setText(QString::fromStdString(path));
        Edit(m_dialog, 1001)->setText("0.05");
    }
    CVorlanxDlg m_dialog;
};

} // namespace

TEST_F(VorlanxDlgTest, ShowsTheDefaultsInTabOrder) {
    const QString expected[] = {QString::fromStdString(DefaultOutputPath()),
                                "30",
                                "44100",
                                "277",
                                "1",
                                "0.95",
                                "3878",
                                "0",
                                "4155",
                                "0"};
    for (std::size_t i = 0; i < std::size(kEdits); ++i) {
        ASSERT_NE(Edit(m_dialog, kEdits[i]), nullptr) << kEdits[i];
        EXPECT_EQ(Edit(m_dialog, kEdits[i])->text(), expected[i]) << kEdits[i];
    }
    EXPECT_TRUE(QDir::isAbsolutePath(expected[0]));
    EXPECT_TRUE(m_dialog.windowTitle().startsWith("Ombrel test signal generator V1.0"));
    EXPECT_EQ(m_dialog.focusWidget(), Edit(m_dialog, 1000));
}

TEST_F(VorlanxDlgTest, LayoutIsInDialogUnitsOfItsFont) {
    // The vertical unit is an eighth of the font's height; the horizontal one at least a quarter of
    // its average width (more where the labels' texts need it), read here from the "Done" button.
    const QFontMetrics metrics(m_dialog.font());
    const int averageBaseX =
        (metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 26 + 1) / 2;
    const int baseX = qRound(Button(m_dialog, "2")->width() * 4 / 50.0);
    EXPECT_GE(baseX, averageBaseX);
    const int baseY = metrics.height();
    const auto px = [&](int x, int y, int w, int h) {
        return QRect(qRound(x * baseX / 4.0), qRound(y * baseY / 8.0), qRound(w * baseX / 4.0),
                     qRound(h * baseY / 8.0));
    };
    EXPECT_EQ(m_dialog.size(), px(0, 0, 274 + 266, 218).size()) << "the original window and the preview";
    EXPECT_EQ(m_dialog.minimumSize(), m_dialog.maximumSize()) << "fixed size";
    EXPECT_FALSE(m_dialog.windowFlags() & Qt::WindowMaximizeButtonHint);
    const struct {
        const char* name;
        QRect rect;
    } controls[] = {
        {"1000", px(66, 24, 198, 12)},  {"1001", px(66, 42, 60, 12)},  {"1002", px(66, 60, 60, 12)},
        {"1006", px(84, 96, 60, 12)},   {"1007", px(84, 114, 60, 12)}, {"1010", px(204, 114, 60, 12)},
        {"1004", px(66, 150, 60, 12)},  {"1005", px(66, 168, 60, 12)}, {"1008", px(192, 150, 60, 12)},
        {"1009", px(192, 168, 60, 12)}, {"1003", px(7, 197, 48, 14)},  {"2", px(217, 197, 50, 14)},
    };
    for (const auto& control : controls) {
        const QWidget* widget = m_dialog.findChild<QWidget*>(control.name);
        ASSERT_NE(widget, nullptr) << control.name;
        EXPECT_EQ(widget->geometry(), control.rect) << control.name;
    }
    // Labels and group boxes with their texts, typo included.
    QStringList groups;
    for (const QGroupBox* group : m_dialog.findChildren<QGroupBox*>()) {
        if (group->objectName() != "preview") {
            groups << group->title();
        }
    }
    groups.sort();
    EXPECT_EQ(groups, QStringList({"Doughter signal(s)", "General parameters", "Mother signal", "Output"}));
    int amplitudes = 0;
    for (const QLabel* label : m_dialog.findChildren<QLabel*>()) {
        amplitudes += label->text() == "Amplitude";
    }
    EXPECT_EQ(amplitudes, 3);
    EXPECT_EQ(Button(m_dialog, "1003")->text(), "Generate!");
    EXPECT_EQ(Button(m_dialog, "2")->text(), "Done");
    EXPECT_FALSE(Button(m_dialog, "1003")->isDefault() || Button(m_dialog, "1003")->autoDefault());
    EXPECT_FALSE(Button(m_dialog, "2")->isDefault() || Button(m_dialog, "2")->autoDefault());
}

TEST_F(VorlanxDlgTest, TabOrderFollowsTheTemplate) {
    QStringList order;
    QWidget* widget = Edit(m_dialog, 1000);
    for (int i = 0; i < 20; ++i) {
        order << widget->objectName();
        do {
            widget = widget->nextInFocusChain();
        } while (!(widget->focusPolicy() & Qt::TabFocus) || !widget->isVisibleTo(&m_dialog));
    }
    EXPECT_EQ(order, QStringList({"1000", "browse", "1001",  "1002",    "1006",   "1007",   "1010",
                                  "1004", "1005",   "1008",  "1009",    "format", "1011",   "1012",
                                  "1003", "2",      "about", "analyze", "play",   "measure"}));
    EXPECT_EQ(widget, Edit(m_dialog, 1000)) << "the chain wraps around";
}

TEST_F(VorlanxDlgTest, TransferStopsAtTheFirstBadField) {
    test::CTempDir dir;
    Fill(1000, QString::fromStdString((dir / "x.wav").string()));
    Fill(1001, "abc");
    Fill(1002, "8000");
    Fill(1010, "0.5");
    test::CModalAnswerer answerer;
    QTest::mouseClick(Button(m_dialog, "1003"), Qt::LeftButton);
    ASSERT_EQ(answerer.m_aBoxes.size(), 1u);
    EXPECT_TRUE(answerer.m_aBoxes[0].m_strText.contains("duration"));
    EXPECT_EQ(answerer.m_aBoxes[0].m_strTitle, "Vorlanx");
    // The file name before it is stored; the duration and everything after it are not.
    EXPECT_EQ(m_dialog.Settings().m_strFileName, (dir / "x.wav").string());
    const CGenerationSettings defaults;
    EXPECT_EQ(m_dialog.Settings().m_dDuration, defaults.m_dDuration);
    EXPECT_EQ(m_dialog.Settings().m_nSampleRate, defaults.m_nSampleRate);
    EXPECT_EQ(m_dialog.Settings().m_dNyquistFactor, defaults.m_dNyquistFactor);
    EXPECT_EQ(m_dialog.focusWidget(), Edit(m_dialog, 1001));
    EXPECT_EQ(Edit(m_dialog, 1001)->selectedText(), "abc");
    EXPECT_FALSE(std::filesystem::exists(dir / "x.wav"));
}

struct BadInputCase {
    int id;
    const char* text;
    const char* phrase;
};

std::ostream& operator<<(std::ostream& out, const BadInputCase& c) {
    return out << c.id << " '" << c.text << "'";
}

class VorlanxDlgBadInputTest : public VorlanxDlgTest, public testing::WithParamInterface<BadInputCase> {};

TEST_P(VorlanxDlgBadInputTest, RangeAndSyntaxMessagesNameTheField) {
    const BadInputCase c = GetParam();
    test::CTempDir dir;
    FillShort((dir / "bad.wav").string());
    Fill(c.id, c.text);
    test::CModalAnswerer answerer;
    QTest::mouseClick(Button(m_dialog, "1003"), Qt::LeftButton);
    ASSERT_EQ(answerer.m_aBoxes.size(), 1u);
    EXPECT_TRUE(answerer.m_aBoxes[0].m_strText.contains(c.phrase))
        << answerer.m_aBoxes[0].m_strText.toStdString();
    EXPECT_EQ(answerer.m_aBoxes[0].m_eIcon, QMessageBox::Warning);
    EXPECT_EQ(m_dialog.focusWidget(), Edit(m_dialog, c.id));
    EXPECT_FALSE(std::filesystem::exists(dir / "bad.wav")) << "no file from settings that failed";
}

INSTANTIATE_TEST_SUITE_P(
    Table, VorlanxDlgBadInputTest,
    testing::Values(BadInputCase{1001, "-1", "between 0 and 1000000"},
                    BadInputCase{1001, "nan", "number for the duration"},
                    BadInputCase{1002, "44100.5", "whole number"},
                    BadInputCase{1002, "1000001", "between 0 and 1000000"},
                    BadInputCase{1006, "inf", "fundamental frequency"},
                    BadInputCase{1007, "1,5", "mother signal"}, BadInputCase{1004, "", "first carrier"},
                    BadInputCase{1009, "x", "second daughter"}, BadInputCase{1010, "2", "between 0 and 1"},
                    BadInputCase{1011, "-0.5", "a fade-in between 0 and 1000000 seconds"},
                    BadInputCase{1012, "1,5", "number for the fade-out"}));

TEST_F(VorlanxDlgTest, NyquistFactorIsStoredBeforeItsCheck) {
    test::CTempDir dir;
    FillShort((dir / "n.wav").string());
    Fill(1010, "2");
    test::CModalAnswerer answerer;
    QTest::mouseClick(Button(m_dialog, "1003"), Qt::LeftButton);
    EXPECT_EQ(m_dialog.Settings().m_dNyquistFactor, 2.0);
    EXPECT_EQ(answerer.m_aBoxes.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(dir / "n.wav"));
}

TEST_F(VorlanxDlgTest, GenerateWritesTheCoresBytes) {
    test::CTempDir dir;
    FillShort((dir / "gui.wav").string());
    Fill(1005, "0.25");
    Fill(1004, "-1000");
    test::CModalAnswerer answerer;
    GenerateAndWait();
    EXPECT_TRUE(answerer.m_aBoxes.empty());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "the wait cursor is gone";
    EXPECT_EQ(m_dialog.findChild<QProgressDialog*>(), nullptr) << "a short job shows no progress";
    EXPECT_TRUE(Button(m_dialog, "1003")->isEnabled());

    CGenerationSettings settings;
    settings.m_strFileName = (dir / "core.wav").string();
    settings.m_dDuration = 0.05;
    settings.m_dDaughterAmplitude1 = 0.25;
    settings.m_dCarrierFreq1 = -1000;
    test::CRecordingFeedback feedback;
    GenerateTestFile(settings, feedback);
    const auto core = test::ReadBytes(dir / "core.wav");
    EXPECT_EQ(core.size(), 44u + 4 * 2205);
    EXPECT_EQ(test::ReadBytes(dir / "gui.wav"), core);
}

TEST_F(VorlanxDlgTest, JobMessagesKeepTheirTexts) {
    test::CTempDir dir;
    FillShort((dir / "missing/x.wav").string());
    test::CModalAnswerer answerer;
    GenerateAndWait();
    ASSERT_EQ(answerer.m_aBoxes.size(), 1u);
    EXPECT_EQ(answerer.m_aBoxes[0].m_strText, "File open failed!");
    EXPECT_EQ(answerer.m_aBoxes[0].m_strDetail,
              QString::fromStdString((dir / "missing/x.wav").string()) + ": No such file or directory");
    EXPECT_EQ(answerer.m_aBoxes[0].m_eIcon, QMessageBox::Critical);

    FillShort((dir / "clip.wav").string());
    Fill(1007, "3");
    GenerateAndWait();
    ASSERT_EQ(answerer.m_aBoxes.size(), 2u);
    EXPECT_TRUE(answerer.m_aBoxes[1].m_strText.startsWith("Warning! Clipped samples detected, Max = "));
    EXPECT_EQ(answerer.m_aBoxes[1].m_eIcon, QMessageBox::Warning);
    EXPECT_TRUE(std::filesystem::exists(dir / "clip.wav"));
    EXPECT_TRUE(m_dialog.isVisible()) << "the dialog stays for the next generation";
}

TEST_F(VorlanxDlgTest, EnterIsOkOnlyWhenTheTransferSucceeds) {
    test::CModalAnswerer answerer;
    Fill(1002, "fast");
    QTest::keyClick(Edit(m_dialog, 1002), Qt::Key_Return);
    EXPECT_TRUE(m_dialog.isVisible());
    EXPECT_EQ(answerer.m_aBoxes.size(), 1u);
    Fill(1002, "48000");
    QTest::keyClick(Edit(m_dialog, 1007), Qt::Key_Enter);
    EXPECT_FALSE(m_dialog.isVisible());
    EXPECT_EQ(m_dialog.result(), QDialog::Accepted);
    EXPECT_EQ(m_dialog.Settings().m_nSampleRate, 48000u);
}

TEST_F(VorlanxDlgTest, EscapeAndDoneCloseWithoutATransfer) {
    Fill(1001, "12");
    QTest::keyClick(Edit(m_dialog, 1001), Qt::Key_Escape);
    EXPECT_FALSE(m_dialog.isVisible());
    EXPECT_EQ(m_dialog.result(), QDialog::Rejected);
    EXPECT_EQ(m_dialog.Settings().m_dDuration, 30.0);

    m_dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_dialog));
    QTest::mouseClick(Button(m_dialog, "2"), Qt::LeftButton);
    EXPECT_FALSE(m_dialog.isVisible());
    EXPECT_EQ(m_dialog.Settings().m_dDuration, 30.0);

    m_dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_dialog));
    m_dialog.close(); // the window's close button
    EXPECT_FALSE(m_dialog.isVisible());
    EXPECT_EQ(m_dialog.Settings().m_dDuration, 30.0);
}

TEST_F(VorlanxDlgTest, AboutOpensAndReturnsUnchanged) {
    Fill(1001, "7");
    test::CModalAnswerer answerer;
    QTest::mouseClick(Button(m_dialog, "about"), Qt::LeftButton);
    EXPECT_EQ(answerer.m_nAboutBoxes, 1);
    EXPECT_EQ(answerer.m_strAboutText, "About Vorlanx|Ombrel test signal generator, Version 1.0");
    EXPECT_TRUE(m_dialog.isVisible());
    EXPECT_EQ(Edit(m_dialog, 1001)->text(), "7");
    EXPECT_EQ(m_dialog.Settings().m_dDuration, 30.0);
    EXPECT_TRUE(answerer.m_aBoxes.empty());
}

// A job of hours over an existing file: cancelled from the progress dialog, or by closing the main
// dialog, it stops and leaves the file as it was, with no temporary and no message.
TEST_F(VorlanxDlgTest, LongJobsShowProgressAndCancelCleanly) {
    test::CTempDir dir;
    std::filesystem::create_directories(dir / "out");
    const auto path = dir / "out/old.wav";
    test::WriteBytes(path, {'o', 'l', 'd'});
    const auto start = [&] {
        Fill(1000, QString::fromStdString(path.string()));
        Fill(1006, "1"); // some 21000 harmonics
        Fill(1001, "200");
        QTest::mouseClick(Button(m_dialog, "1003"), Qt::LeftButton);
        EXPECT_TRUE(m_dialog.IsGenerating());
        EXPECT_FALSE(Button(m_dialog, "1003")->isEnabled());
    };
    const auto unchanged = [&] {
        EXPECT_EQ(test::ReadBytes(path), (std::vector<unsigned char>{'o', 'l', 'd'}));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "out"), {}), 1)
            << "no temporary left";
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    };
    test::CModalAnswerer answerer;

    start();
    QProgressDialog* progress = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return (progress = m_dialog.findChild<QProgressDialog*>("progress")) && progress->isVisible();
        },
        5000));
    EXPECT_EQ(progress->windowTitle(), "Vorlanx");
    EXPECT_TRUE(progress->labelText().contains("old.wav"));
    QTest::mouseClick(progress->findChild<QPushButton*>(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_dialog.IsGenerating(); }, 5000));
    EXPECT_TRUE(Button(m_dialog, "1003")->isEnabled());
    EXPECT_TRUE(m_dialog.isVisible());
    unchanged();

    start();
    QTest::keyClick(Edit(m_dialog, 1001), Qt::Key_Escape); // closing cancels first
    EXPECT_FALSE(m_dialog.IsGenerating());
    EXPECT_FALSE(m_dialog.isVisible());
    unchanged();
    EXPECT_TRUE(answerer.m_aBoxes.empty());
}

// The preview follows typing without a message box, names a field that does not parse, and
// after a generation says what was written.
TEST_F(VorlanxDlgTest, PreviewFollowsTheFields) {
    auto* preview = m_dialog.findChild<CPreviewPanel*>("preview");
    ASSERT_NE(preview, nullptr);
    EXPECT_TRUE(preview->SummaryText().contains("37 harmonics, 831 Hz to 20775 Hz"));
    EXPECT_TRUE(preview->SummaryText().contains("Peak of the first second: 29006 (-1.06 dBFS)"));
    const auto waitFor = [&](const QString& phrase) {
        return QTest::qWaitFor([&] { return preview->SummaryText().contains(phrase); }, 2000);
    };
    test::CModalAnswerer answerer;
    Fill(1006, "8000");
    EXPECT_TRUE(waitFor("the mother signal is silent")) << preview->SummaryText().toStdString();
    Fill(1006, "30000");
    EXPECT_TRUE(waitFor("The reference at 30000 Hz is at or above half the sample rate"));
    Fill(1001, "abc");
    EXPECT_TRUE(waitFor("Duration in seconds")) << preview->SummaryText().toStdString();
    EXPECT_TRUE(answerer.m_aBoxes.empty()) << "typing shows no message";

    test::CTempDir dir;
    FillShort((dir / "p.wav").string());
    Fill(1006, "277");
    GenerateAndWait();
    EXPECT_TRUE(
        preview->SummaryText().startsWith("Wrote " + QString::fromStdString((dir / "p.wav").string())))
        << preview->SummaryText().toStdString();
    EXPECT_EQ(preview->focusPolicy(), Qt::NoFocus);
}

TEST(VorlanxApp, InitInstanceRunsTheDialogUntilItClosesThenEnds) {
    bool sawDialog = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<CVorlanxDlg*>(QApplication::activeModalWidget())) {
            sawDialog = true;
            QTest::keyClick(dialog, Qt::Key_Escape);
        }
    });
    closer.start(5);
    EXPECT_FALSE(theApp.InitInstance()) << "no event loop follows the dialog";
    EXPECT_TRUE(sawDialog);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty() ||
                std::none_of(QApplication::topLevelWidgets().begin(), QApplication::topLevelWidgets().end(),
                             [](QWidget* w) { return w->isVisible(); }));
}

int main(int argc, char** argv) {
    // A screen as large as a desktop's (800 x 800 is the offscreen default), or the one a test names.
    const QByteArray screens = qEnvironmentVariableIsSet("VORLANX_TEST_SCREENS")
                                   ? qgetenv("VORLANX_TEST_SCREENS")
                                   : QByteArray(VORLANX_TEST_SCREENS);
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + screens);
    QApplication application(argc, argv);
    QApplication::setApplicationName("Vorlanx");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// "~/" is the home folder, an empty name is a bad field, and what was written is named by its
// absolute path.
TEST_F(VorlanxDlgTest, FileNamesAsAUserTypesThem) {
    test::CTempDir dir;
    const QByteArray home = qgetenv("HOME");
    const QString workingFolder = QDir::currentPath();
    qputenv("HOME", QByteArray::fromStdString((dir / "home").string()));
    std::filesystem::create_directories(dir / "home");
    std::filesystem::create_directories(dir / "work");
    QDir::setCurrent(QString::fromStdString((dir / "work").string()));
    test::CModalAnswerer answerer;
    auto* preview = m_dialog.findChild<CPreviewPanel*>("preview");

    FillShort("x");
    Fill(1000, "~/tilde.wav");
    GenerateAndWait();
    EXPECT_TRUE(std::filesystem::exists(dir / "home/tilde.wav"));
    EXPECT_FALSE(std::filesystem::exists(dir / "work/~"));
    Fill(1000, "relative.wav");
    GenerateAndWait();
    EXPECT_TRUE(preview->SummaryText().startsWith(
        "Wrote " + QString::fromStdString((dir / "work/relative.wav").string()) + "\n"))
        << preview->SummaryText().toStdString();
    EXPECT_TRUE(answerer.m_aBoxes.empty());

    Fill(1000, "");
    QTest::mouseClick(Button(m_dialog, "1003"), Qt::LeftButton);
    ASSERT_EQ(answerer.m_aBoxes.size(), 1u);
    EXPECT_EQ(answerer.m_aBoxes[0].m_strText, "Please enter a file name.");
    EXPECT_FALSE(m_dialog.IsGenerating());
    EXPECT_EQ(m_dialog.focusWidget(), Edit(m_dialog, 1000));

    QDir::setCurrent(workingFolder);
    qputenv("HOME", home);
}

// The first second may not clip where the whole file does: the summary says "first second" until
// the whole file's peak is known, then that peak, with the clipping warning --info also gives.
TEST_F(VorlanxDlgTest, PreviewPromisesOnlyWhatTheWholeFileKeeps) {
    auto* preview = m_dialog.findChild<CPreviewPanel*>("preview");
    Fill(1006, "277.01");
    Fill(1007, "1.12974");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return preview->SummaryText().contains("Peak of the first second: 32765"); }, 2000))
        << preview->SummaryText().toStdString();
    EXPECT_FALSE(preview->SummaryText().contains("clip")) << "the first second does not clip";
    ASSERT_TRUE(QTest::qWaitFor([&] { return preview->HasWholeFilePeak(); }, 10000));
    EXPECT_TRUE(preview->SummaryText().contains("Peak of the whole file: 32769"))
        << preview->SummaryText().toStdString();
    EXPECT_TRUE(preview->SummaryText().contains("The left channel will clip"));
    EXPECT_FALSE(preview->SummaryText().contains("first second"));
}

// However many warnings, the summary holds them all, and scrolls to them.
TEST_F(VorlanxDlgTest, PreviewShowsEveryWarning) {
    auto* preview = m_dialog.findChild<CPreviewPanel*>("preview");
    CGenerationSettings settings;
    settings.m_dFundamentalFreq = 30000;
    settings.m_dCarrierFreq1 = 50000;
    settings.m_dDaughterAmplitude1 = 0.5;
    settings.m_dCarrierFreq2 = 10000;
    settings.m_dDaughterAmplitude2 = 0.5;
    const std::vector<std::string> warnings = MakeJobPlan(settings).m_aWarnings;
    ASSERT_GE(warnings.size(), 4u);
    Fill(1006, "30000");
    Fill(1004, "50000");
    Fill(1005, "0.5");
    Fill(1008, "10000");
    Fill(1009, "0.5");
    Fill(1001, "abc");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return preview->SummaryText().contains("Duration in seconds"); }, 2000));
    for (const std::string& warning : warnings) {
        EXPECT_TRUE(preview->SummaryText().contains(QString::fromStdString(warning))) << warning;
    }
    auto* scroll = preview->findChild<QScrollArea*>("summaryScroll");
    ASSERT_NE(scroll, nullptr);
    QTest::qWait(50); // a layout pass for the new text
    EXPECT_GT(scroll->verticalScrollBar()->maximum(), 0) << "more lines than room: it scrolls";
}

// A FIFO that no program reads: the progress dialog says so at once, and Cancel or closing the
// window end the wait at once.
TEST_F(VorlanxDlgTest, WaitingForAReaderCanBeCancelledOrClosed) {
    test::CTempDir dir;
    const auto fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    test::CModalAnswerer answerer;
    FillShort(fifo.string());
    QTest::mouseClick(Button(m_dialog, "1003"), Qt::LeftButton);
    QProgressDialog* progress = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return (progress = m_dialog.findChild<QProgressDialog*>("progress")) && progress->isVisible();
        },
        2000));
    EXPECT_EQ(progress->labelText(),
              "Waiting for a program to read " + QString::fromStdString(fifo.string()) + " ...");
    QTest::mouseClick(progress->findChild<QPushButton*>(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_dialog.IsGenerating(); }, 1000));
    EXPECT_TRUE(answerer.m_aBoxes.empty()) << "a cancel shows no message";

    QTest::mouseClick(Button(m_dialog, "1003"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return (progress = m_dialog.findChild<QProgressDialog*>("progress")) && progress->isVisible();
        },
        2000));
    const auto closing = std::chrono::steady_clock::now();
    m_dialog.close(); // the window's close button, while the progress dialog shows
    EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::seconds(1));
    EXPECT_FALSE(m_dialog.isVisible());
    EXPECT_FALSE(m_dialog.IsGenerating());
}

// "Browse..." opens a save dialog at the name typed ("~" expanded) and puts the chosen name in the field.
TEST_F(VorlanxDlgTest, BrowseChoosesTheFileName) {
    test::CTempDir dir;
    const QString chosen = QString::fromStdString((dir / "chosen.wav").string());
    QString startedAt;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            startedAt = files->directory().absolutePath();
            test::ChooseInFileDialog(files, chosen); // as typing the name and its Save button would
        }
    });
    answer.start(5);
    Edit(m_dialog, 1000)->setText(QString::fromStdString((dir / "typed.wav").string()));
    QTest::mouseClick(Button(m_dialog, "browse"), Qt::LeftButton);
    EXPECT_EQ(startedAt, QString::fromStdString(dir.operator/("").string()).chopped(1));
    EXPECT_EQ(Edit(m_dialog, 1000)->text(), chosen);
}

// The "Format" choice and the fades: FLAC renames a .wav file name and back, a typed ending picks
// the container, and the file written holds the chosen format, faded, as the core writes it.
TEST_F(VorlanxDlgTest, FormatAndFadesReachTheFile) {
    test::CTempDir dir;
    FillShort((dir / "out.wav").string());
    auto* format = m_dialog.findChild<QComboBox*>("format");
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->currentText(), "16-bit WAV");
    QStringList entries;
    for (int i = 0; i < format->count(); ++i) {
        entries << format->itemText(i);
    }
    EXPECT_EQ(entries,
              QStringList({"16-bit WAV", "24-bit WAV", "32-bit float WAV", "FLAC 16-bit", "FLAC 24-bit"}));

    const auto choose = [&](const QString& text) {
        format->setCurrentIndex(format->findText(text));
        emit format->activated(format->currentIndex()); // as a click on the entry
    };
    choose("FLAC 24-bit");
    EXPECT_EQ(Edit(m_dialog, 1000)->text(), QString::fromStdString((dir / "out.flac").string()));
    choose("32-bit float WAV");
    EXPECT_EQ(Edit(m_dialog, 1000)->text(), QString::fromStdString((dir / "out.wav").string()));
    Fill(1000, QString::fromStdString((dir / "typed.FLAC").string()));
    EXPECT_EQ(format->currentText(), "FLAC 24-bit") << "float has no FLAC: the deepest FLAC";
    Fill(1000, QString::fromStdString((dir / "gui.flac").string()));
    Fill(1011, "0.01");
    Fill(1012, "0.02");
    QTest::qWait(100); // the preview follows the fields
    EXPECT_TRUE(m_dialog.findChild<CPreviewPanel*>()->SummaryText().contains("24-bit FLAC"));

    test::CModalAnswerer answerer;
    GenerateAndWait();
    EXPECT_TRUE(answerer.m_aBoxes.empty());
    CGenerationSettings settings;
    settings.m_strFileName = (dir / "core.flac").string();
    settings.m_dDuration = 0.05;
    settings.m_eFormat = ESampleFormat::S24;
    settings.m_dFadeInS = 0.01;
    settings.m_dFadeOutS = 0.02;
    test::CRecordingFeedback feedback;
    ASSERT_TRUE(GenerateTestFile(settings, feedback));
    EXPECT_EQ(test::ReadBytes(dir / "gui.flac"), test::ReadBytes(dir / "core.flac"));
    EXPECT_EQ(m_dialog.Settings().m_dFadeOutS, 0.02);
}
