// The dialog on the user's desktop: a decimal-comma locale, the icon in the program that ships,
// names for screen readers, and the desktop's font size.
#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <clocale>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>

#include "app/app_icon.h"
#include "app/dialog/about_dlg.h"
#include "app/dialog/vorlanx_dlg.h"
#include "generation/generate_job.h"
#include "tests/app/modal_answerer.h"
#include "tests/cli/run_generator.h"
#include "tests/support/test_support.h"

namespace {

const int kEdits[] = {1000, 1001, 1002, 1006, 1007, 1010, 1004, 1005, 1008, 1009};

// Sets the process locale for the life of the object, as QApplication does from LANG.
class CLocaleScope {
public:
    explicit CLocaleScope(const char* name) : m_strPrevious(std::setlocale(LC_ALL, nullptr)) {
        m_bSet = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~CLocaleScope() { std::setlocale(LC_ALL, m_strPrevious.c_str()); }
    bool m_bSet = false;

private:
    std::string m_strPrevious;
};

} // namespace

TEST(DesktopTest, GermanLocaleShowsPointsAndWritesTheDefaultBytes) {
    test::CTempDir dir;
    CGenerationSettings reference;
    reference.m_strFileName = (dir / "reference.wav").string();
    test::CRecordingFeedback feedback;
    ASSERT_TRUE(GenerateTestFile(reference, feedback));

    CLocaleScope german("de_DE.UTF-8");
    ASSERT_TRUE(german.m_bSet) << "the de_DE.UTF-8 locale is missing; scripts/bootstrap.sh generates it";
    CVorlanxDlg dialog;
    auto* factor = dialog.findChild<QLineEdit*>("1010");
    EXPECT_EQ(factor->text(), "0.95");
    dialog.findChild<QLineEdit*>("1000")->setText(QString::fromStdString((dir / "german.wav").string()));
    test::CModalAnswerer answerer;
    dialog.OnGenerate();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.IsGenerating(); }, 20000));
    EXPECT_TRUE(answerer.m_aBoxes.empty());
    EXPECT_EQ(test::ReadBytes(dir / "german.wav"), test::ReadBytes(dir / "reference.wav"));

    factor->setText("0,5");
    dialog.OnGenerate();
    ASSERT_EQ(answerer.m_aBoxes.size(), 1u);
    EXPECT_TRUE(answerer.m_aBoxes[0].m_strText.contains("decimal point"))
        << answerer.m_aBoxes[0].m_strText.toStdString();
}

// The icon must come from the resources of what actually links the dialogs, the shipped program
// included: rcc stores each file name in UTF-16, big-endian.
TEST(DesktopTest, IconIsCompiledIntoTheProgram) {
    const QIcon icon = AppIcon();
    for (int size : {16, 32, 48, 64, 128, 256}) {
        EXPECT_FALSE(icon.pixmap(size, size).isNull()) << size;
    }
    CVorlanxDlg dialog;
    EXPECT_FALSE(dialog.windowIcon().isNull());
    CAboutDlg about(&dialog);
    const QLabel* shown = about.findChild<QLabel*>("icon");
    ASSERT_NE(shown, nullptr);
    EXPECT_FALSE(shown->pixmap().isNull());

    QFile program(VORLANX_PATH);
    ASSERT_TRUE(program.open(QIODevice::ReadOnly)) << VORLANX_PATH;
    const QString name = QStringLiteral("vorlanx-256.png");
    QByteArray utf16;
    for (QChar c : name) {
        utf16.append(char(c.unicode() >> 8)).append(char(c.unicode() & 0xFF));
    }
    EXPECT_TRUE(program.readAll().contains(utf16)) << "the program links no icon resources";
}

TEST(DesktopTest, ScreenReadersHearDistinctNamesAndLabelsNameTheirEdits) {
    CVorlanxDlg dialog;
    QSet<QString> names;
    for (int id : kEdits) {
        auto* edit = dialog.findChild<QLineEdit*>(QString::number(id));
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(edit);
        ASSERT_NE(accessible, nullptr) << id;
        const QString name = accessible->text(QAccessible::Name);
        EXPECT_FALSE(name.isEmpty()) << id;
        names.insert(name);
        int labels = 0;
        for (const QLabel* label : dialog.findChildren<QLabel*>()) {
            labels += label->buddy() == edit;
        }
        EXPECT_EQ(labels, 1) << id << " is named by exactly one label";
    }
    EXPECT_EQ(names.size(), int(std::size(kEdits))) << "names are distinct";
    for (const char* button : {"1003", "2", "about"}) {
        auto* widget = dialog.findChild<QPushButton*>(button);
        EXPECT_EQ(QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name),
                  widget->text().remove('&'));
    }
}

TEST(DesktopTest, DialogsGrowWithTheDesktopFont) {
    const QFont saved = QApplication::font();
    QFont font = saved;
    font.setPointSize(9);
    QApplication::setFont(font);
    const CVorlanxDlg small;
    font.setPointSize(18);
    QApplication::setFont(font);
    const CVorlanxDlg large;
    const CAboutDlg about;
    QApplication::setFont(saved);

    EXPECT_EQ(large.font().pointSize(), 18);
    EXPECT_EQ(about.font().pointSize(), 18);
    const double ratio = double(large.width()) / small.width();
    EXPECT_NEAR(ratio, 2.0, 0.25);
    EXPECT_NEAR(double(large.height()) / small.height(), 2.0, 0.25);
    // The same layout: a control keeps its place as a fraction of the original window (up to the
    // "Done" button's right edge; the preview beside it narrows where the screen ends).
    const auto place = [](const CVorlanxDlg& dialog) {
        return double(dialog.findChild<QWidget*>("1010")->x()) /
               dialog.findChild<QWidget*>("2")->geometry().right();
    };
    EXPECT_NEAR(place(large), place(small), 0.02);
}

// On whatever screen it opens on (a desktop's, and in a second run a 1280 x 800 one at 144 dpi),
// the window fits the screen's available area, no label is cut or touches its field, and every
// button shows its whole text.
TEST(DesktopTest, TheWindowFitsItsScreenAndEveryTextIsWhole) {
    CVorlanxDlg dialog;
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    const QRect available = dialog.screen()->availableGeometry();
    EXPECT_LE(dialog.frameGeometry().width(), available.width());
    EXPECT_LE(dialog.frameGeometry().height(), available.height());
    int labels = 0;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        if (label->buddy() == nullptr) {
            continue; // the preview's own texts wrap in their place
        }
        ++labels;
        const QFontMetrics metrics(label->font(), label);
        const int text = metrics.horizontalAdvance(label->text());
        EXPECT_LT(text, label->width()) << label->text().toStdString() << " is cut";
        const QRect field = label->buddy()->geometry();
        if (field.left() >= label->geometry().left()) { // the field to the label's right, on its row
            EXPECT_LT(label->geometry().left() + text, field.left())
                << label->text().toStdString() << " touches its field";
        }
    }
    EXPECT_EQ(labels, 13);
    for (const QPushButton* button : dialog.findChildren<QPushButton*>()) {
        if (button->isVisibleTo(&dialog)) {
            EXPECT_LT(QFontMetrics(button->font(), button).horizontalAdvance(button->text()), button->width())
                << button->text().toStdString();
        }
    }
}

// Without a display, --version and --help still answer, and the dialog says in one line why it
// cannot open and what works without one.
TEST(DesktopTest, AnswersWithoutADisplay) {
    test::CTempDir dir;
    const std::string program = test::Quote(VORLANX_PATH);
    const std::string bare = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ";
    const std::string out =
        " >" + test::Quote((dir / "out").string()) + " 2>" + test::Quote((dir / "err").string());
    const auto run = [&](const std::string& arguments) {
        const int status = std::system((bare + program + arguments + out).c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(run(" --version"), 0);
    EXPECT_EQ(test::Slurp(dir / "out").rfind("vorlanx 1.0.0.1\n", 0), 0u);
    EXPECT_EQ(run(" --help"), 0);
    EXPECT_EQ(test::Slurp(dir / "out").rfind("Usage: vorlanx", 0), 0u);
    EXPECT_EQ(run(""), 1);
    const std::string error = test::Slurp(dir / "err");
    EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << error;
    EXPECT_NE(error.find("needs a display"), std::string::npos) << error;
    EXPECT_NE(error.find("vorlanx-gen"), std::string::npos) << error;
}
