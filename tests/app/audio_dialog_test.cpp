// The dialog's "Play" and the analysis window's "Measure..." on ALSA's file plugin, without sound
// hardware: for this test the process's HOME holds an .asoundrc whose default output plays into
// /dev/null and whose test_in gives a SoX-made recording as what it records.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "app/analysis/analysis_window.h"
#include "app/analysis/measure_dialog.h"
#include "app/dialog/vorlanx_dlg.h"
#include "generation/generate_job.h"
#include "tests/app/modal_answerer.h"
#include "tests/support/paced_fifo.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

// Chooses devices in the measurement's question and starts it.
class CMeasureAnswer {
public:
    CMeasureAnswer(const QString& output, const QString& input) {
        QObject::connect(&m_timer, &QTimer::timeout, [this, output, input] {
            if (auto* dialog = qobject_cast<CMeasureDialog*>(QApplication::activeModalWidget())) {
                m_bAsked = true;
                auto* out = dialog->findChild<QComboBox*>("outputDevice");
                auto* in = dialog->findChild<QComboBox*>("inputDevice");
                out->setCurrentIndex(out->findData(output));
                in->setCurrentIndex(in->findData(input));
                dialog->findChild<QPushButton*>("startMeasurement")->click();
            }
        });
        m_timer.start(5);
    }
    bool m_bAsked = false;

private:
    QTimer m_timer;
};

} // namespace

TEST(AudioDialogTest, PlayStopsOnAnEditAndMeasureShowsTheDevicesResponse) {
    if (!test::RunSox({"--version"})) {
        GTEST_SKIP() << "needs SoX";
    }
    test::CTempDir dir;
    const std::string home = dir.Path().string();
    test::WriteText(
        dir / ".asoundrc",
        "pcm.!default {\n type file\n slave.pcm \"null\"\n file \"/dev/null\"\n format \"raw\"\n}\n"
        "pcm.test_out {\n type file\n slave.pcm \"null\"\n file \"/dev/null\"\n format \"raw\"\n"
        " hint { show on description \"test output\" }\n}\n"
        "pcm.test_in {\n type file\n slave.pcm \"null\"\n file \"/dev/null\"\n infile \"" +
            home +
            "/in.raw\"\n format \"raw\"\n hint { show on description \"test input\" }\n}\n"
            "pcm.test_live_in {\n type file\n slave.pcm \"null\"\n file \"/dev/null\"\n infile \"" +
            home + "/live.fifo\"\n format \"raw\"\n}\n");
    test::CPacedFifo fifo(dir / "live.fifo"); // before the devices are probed: opening it never waits
    // What test_in records: the stimulus through SoX's one-pole low-pass at 1 kHz on the left.
    CGenerationSettings stimulus = test::ShortSettings(dir / "stimulus.wav", 2.0);
    test::CRecordingFeedback feedback;
    ASSERT_TRUE(GenerateTestFile(stimulus, feedback));
    const std::string s = (dir / "stimulus.wav").string(), l = (dir / "l.wav").string(),
                      r = (dir / "r.wav").string(), d = (dir / "d.wav").string();
    ASSERT_TRUE(
        test::RunSox({s, "-e", "floating-point", "-b", "32", l, "remix", "1", "lowpass", "-1", "1000"}));
    ASSERT_TRUE(test::RunSox({s, "-e", "floating-point", "-b", "32", r, "remix", "2"}));
    ASSERT_TRUE(test::RunSox({"-M", l, r, d}));
    ASSERT_TRUE(test::RunSox({d, "-t", "raw", (dir / "in.raw").string(), "pad", "0", "1"}));

    const std::string savedHome = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    ::setenv("HOME", home.c_str(), 1);
    {
        CVorlanxDlg dialog;
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        dialog.findChild<QLineEdit*>("1001")->setText("1000"); // long enough to be stopped
        auto* play = dialog.findChild<QPushButton*>("play");
        test::CModalAnswerer answerer;
        QTest::mouseClick(play, Qt::LeftButton);
        EXPECT_EQ(play->text(), "Stop");
        QTest::qWait(200);
        EXPECT_EQ(play->text(), "Stop") << "still playing";
        QLineEdit* fundamental = dialog.findChild<QLineEdit*>("1006");
        fundamental->setFocus();
        QTest::keyClick(fundamental, Qt::Key_5); // an edit stops what no longer matches the fields
        EXPECT_TRUE(QTest::qWaitFor([&] { return play->text() == "Play"; }, 3000));
        EXPECT_TRUE(answerer.m_aBoxes.empty()) << "a stop is no failure";

        fundamental->setText("277");
        dialog.findChild<QLineEdit*>("1001")->setText("2");
        CMeasureAnswer measure("test_out", "test_in");
        QTest::mouseClick(dialog.findChild<QPushButton*>("measure"), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return measure.m_bAsked; }, 5000));
        CAnalysisWindow* window = dialog.findChild<CAnalysisWindow*>();
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->Report().has_value(); }, 20000));
        EXPECT_TRUE(window->windowTitle().startsWith("Measured live (test_out to test_in)"))
            << window->windowTitle().toStdString();
        const analysis::CAnalysisReport& report = *window->Report();
        ASSERT_FALSE(report.m_aTones.empty());
        // The filter's formula at 831 Hz: -2.2752 dB, -36.415 degrees (SoX's 16-bit scaling takes 0.0003 dB).
        EXPECT_NEAR(report.m_aTones.front().m_dGainDb, -2.2755, 0.002);
        EXPECT_NEAR(report.m_aTones.front().m_dPhaseDeg, -36.415, 0.01);
        EXPECT_TRUE(answerer.m_aBoxes.empty()) << answerer.m_aBoxes.front().m_strDetail.toStdString();
        window->close();

        // A measurement that fails (the input records silence) leaves a window as it was: its title
        // and the recording it showed.
        CAnalysisWindow* file = dialog.OpenAnalysis(QString::fromStdString(d), stimulus);
        ASSERT_TRUE(QTest::qWaitFor([&] { return file->Report().has_value() && !file->IsBusy(); }, 20000));
        const QString title = file->windowTitle();
        test::WriteBytes(dir / "in.raw", std::vector<unsigned char>(8 * 44100 * 3, 0));
        file->Measure("test_out", "test_in");
        ASSERT_TRUE(QTest::qWaitFor([&] { return !file->IsBusy() && !answerer.m_aBoxes.empty(); }, 20000));
        EXPECT_EQ(answerer.m_aBoxes.front().m_strText, "The measurement failed.");
        EXPECT_TRUE(answerer.m_aBoxes.front().m_strDetail.contains("recorded silence"))
            << answerer.m_aBoxes.front().m_strDetail.toStdString();
        EXPECT_EQ(file->windowTitle(), title);
        EXPECT_EQ(file->Report()->m_strRecording, d);
        file->close();

        // Running continuously: test_live_in reads a FIFO that a thread here fills with the stimulus's
        // one-second period plus a little noise, paced at about four times real time. The window
        // updates in place; Hold keeps the figures while the updates go on; Stop ends it and keeps them.
        CGenerationSettings looped = stimulus;
        looped.m_dDuration = 1.0;
        looped.m_eFormat = ESampleFormat::F32;
        const std::vector<double> period = test::FloatStimulus(looped);
        fifo.Feed(period, 4.0 * 44100.0, 1e-5, 3);
        QPointer<CAnalysisWindow> live = new CAnalysisWindow(looped, &dialog);
        live->show();
        live->MeasureContinuously("test_out", "test_live_in", 2);
        EXPECT_TRUE(live->IsRunningContinuously());
        ASSERT_TRUE(QTest::qWaitFor([&] { return live->LiveStatus().startsWith("Update 3"); }, 20000))
            << live->LiveStatus().toStdString();
        EXPECT_TRUE(live->windowTitle().startsWith("Running continuously (test_out to test_live_in)"));
        ASSERT_TRUE(live->Report());
        for (const auto& tone : live->Report()->m_aTones) {
            EXPECT_NEAR(tone.m_dGainDb, 0.0, 0.01) << tone.m_dFrequencyHz;
        }
        EXPECT_TRUE(live->LiveStatus().contains("average of 2"));
        live->findChild<QPushButton*>("hold")->click();
        const double held = *live->Report()->m_dNoiseFloorDbfs;
        ASSERT_TRUE(QTest::qWaitFor([&] { return live->LiveStatus().startsWith("Update 5"); }, 20000));
        EXPECT_TRUE(live->LiveStatus().endsWith("(held)"));
        EXPECT_EQ(*live->Report()->m_dNoiseFloorDbfs, held) << "held figures stay";
        live->findChild<QPushButton*>("cancelAnalysis")->click(); // "Stop"
        ASSERT_TRUE(QTest::qWaitFor([&] { return !live->IsBusy(); }, 10000));
        EXPECT_FALSE(live->IsRunningContinuously());
        EXPECT_TRUE(live->LiveStatus().endsWith("stopped")) << live->LiveStatus().toStdString();
        EXPECT_TRUE(live->Report()) << "the last figures stay";
        EXPECT_TRUE(live->findChild<QPushButton*>("measure")->isEnabled());
        EXPECT_TRUE(answerer.m_aBoxes.size() == 1) << "no failure but the one above";
        live->close();
    }
    ::setenv("HOME", savedHome.c_str(), 1);
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen"); // also when CTest lists the tests
    QApplication application(argc, argv);
    QApplication::setApplicationName("Vorlanx");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
