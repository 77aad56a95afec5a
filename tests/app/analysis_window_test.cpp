// The analysis window on the offscreen platform: opened by dropping a recording on the main dialog,
// its plots and Summary against vorlanx-analyze's own JSON, its exports, overlays, cancel and close,
// and recordings it cannot analyse.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#ifdef VORLANX_HAVE_SVG
#include <QBuffer>
#include <QPainter>
#include <QSvgGenerator>
#endif
#include <nlohmann/json.hpp>

#include "app/analysis/analysis_window.h"
#include "app/analysis/measured_spectrum_plot.h"
#include "app/analysis/response_plot.h"
#include "app/analysis/sweep_dialog.h"
#include "app/analysis/sweep_plot.h"
#include "app/dialog/vorlanx_dlg.h"
#include "app/workers/worker_thread.h"
#include "generation/generate_job.h"
#include "tests/app/modal_answerer.h"
#include "tests/cli/run_generator.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

// The analysis windows open now.
std::vector<CAnalysisWindow*> Windows() {
    std::vector<CAnalysisWindow*> windows;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<CAnalysisWindow*>(widget); window && window->isVisible()) {
            windows.push_back(window);
        }
    }
    return windows;
}

// Answers the next file dialog with `path`, and says yes to replacing a file that exists.
class CFileDialogAnswer {
public:
    explicit CFileDialogAnswer(const QString& path) {
        QObject::connect(&m_timer, &QTimer::timeout, [this, path] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* files = qobject_cast<QFileDialog*>(modal); files && files != m_pAnswered) {
                m_strFilters = files->nameFilters().join(";;");
                m_pAnswered = files; // once: the queued accept, or its question, comes next
                test::ChooseInFileDialog(files, path);
            } else if (auto* box = qobject_cast<QMessageBox*>(modal); box && box->button(QMessageBox::Yes)) {
                box->button(QMessageBox::Yes)->click(); // "already exists: replace it?"
            }
        });
        m_timer.start(5);
    }
    QString m_strFilters;

private:
    QTimer m_timer;
    QPointer<QFileDialog> m_pAnswered;
};

class AnalysisWindowTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_pDir = new test::CTempDir;
        test::CRecordingFeedback feedback;
        CGenerationSettings settings;
        settings.m_strFileName = (*s_pDir / "default.wav").string();
        ASSERT_TRUE(GenerateTestFile(settings, feedback));
    }
    static void TearDownTestSuite() { delete s_pDir; }
    static QString Default() { return QString::fromStdString((*s_pDir / "default.wav").string()); }

    void SetUp() override {
        m_dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_dialog));
    }
    void TearDown() override {
        for (CAnalysisWindow* window : Windows()) {
            window->close();
        }
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    // Drops `path` on the main dialog, as a file manager would, and returns the window it opened.
    CAnalysisWindow* Drop(const QString& path) {
        const std::size_t before = Windows().size();
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(path)});
        // A drag enters first: Qt gives the drop to the widget that accepted it.
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&m_dialog, &enter);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&m_dialog, &drop);
        const auto windows = Windows();
        return windows.size() > before ? windows.back() : nullptr;
    }
    static bool Done(CAnalysisWindow* window) {
        return QTest::qWaitFor([&] { return !window->IsBusy(); }, 10000) &&
               (QApplication::processEvents(), true);
    }

    CVorlanxDlg m_dialog;
    static test::CTempDir* s_pDir;
};
test::CTempDir* AnalysisWindowTest::s_pDir = nullptr;

TEST_F(AnalysisWindowTest, TheDefaultFileShowsItsTonesAtZeroDecibelsAndTheAnalysersFigures) {
    CAnalysisWindow* window = Drop(Default());
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(Done(window));
    ASSERT_TRUE(window->Report());
    EXPECT_EQ(window->windowTitle(), "default.wav - Vorlanx analysis");
    auto* response = window->findChild<CResponsePlot*>("response");
    ASSERT_EQ(response->Curves().size(), 1u);
    ASSERT_EQ(response->Curves()[0].m_aPoints.size(), 37u);
    EXPECT_EQ(response->HighHz(), 22050.0) << "the axis ends at half the rate";
    for (const auto& point : response->Curves()[0].m_aPoints) {
        EXPECT_NEAR(point.m_dGainDb, 0.0, 0.005) << point.m_dFrequencyHz;
    }
    EXPECT_EQ(window->findChild<CMeasuredSpectrumPlot*>("spectrum")->Lines().size(), 37u + 42u);

    // The Summary shows vorlanx-analyze's figures, to the digits it shows.
    test::CTempDir dir;
    const test::CRun run = test::RunProgram(VORLANX_ANALYZE_PATH, dir, {"--json", Default().toStdString()});
    ASSERT_EQ(run.m_nStatus, 0) << run.m_strErr;
    const auto json = nlohmann::json::parse(run.m_strOut);
    const std::pair<const char*, double> figures[] = {
        {"fundamental_hz", 1e-4},      {"clock_offset_ppm", 1e-2},     {"delay_ms", 1e-4},
        {"distortion_noise_db", 1e-2}, {"even_order_db", 1e-2},        {"odd_order_db", 1e-2},
        {"noise_floor_dbfs", 1e-2},    {"reference.level_dbfs", 1e-2}, {"reference.thd_db", 1e-2},
        {"reference.thd_n_db", 1e-2}};
    for (const auto& [key, step] : figures) {
        const std::string name = key;
        const auto dot = name.find('.');
        const double expected = dot == std::string::npos
                                    ? json[name].get<double>()
                                    : json[name.substr(0, dot)][name.substr(dot + 1)].get<double>();
        const QString shown = window->SummaryValue(key);
        EXPECT_NEAR(shown.section(' ', 0, 0).toDouble(), expected, step / 2 + 1e-12)
            << key << ": " << shown.toStdString();
    }
    EXPECT_TRUE(window->SummaryValue("polarity").startsWith("normal"));

    // Hovering a point names its figures.
    window->resize(1000, 700);
    response->repaint();
    QString hover;
    for (int x = 0; x < response->width() && !hover.contains("831.00 Hz"); x += 2) {
        for (int y = 0; y < response->height() / 2 && !hover.contains("831.00 Hz"); y += 2) {
            hover = response->HoverText(QPoint(x, y));
        }
    }
    EXPECT_TRUE(hover.contains("831.00 Hz: level -9.54 dBFS, gain 0 dB, phase 0°")) << hover.toStdString();
}

// Export writes vorlanx-analyze's CSV and JSON, Save image a PNG and an SVG, each replacing its
// file only once complete; Overlay adds a second curve named in the legend.
TEST_F(AnalysisWindowTest, ExportsImagesAndOverlays) {
    CAnalysisWindow* window = Drop(Default());
    ASSERT_TRUE(Done(window));
    test::CTempDir dir;
    const test::CRun csv = test::RunProgram(VORLANX_ANALYZE_PATH, dir, {"--csv", Default().toStdString()});
    const struct {
        const char* m_szName;
        void (CAnalysisWindow::*m_pAction)();
        std::string m_strStarts;
    } cases[] = {{"report.csv", &CAnalysisWindow::OnExport, csv.m_strOut},
                 {"report.json", &CAnalysisWindow::OnExport, "{\n  \"channels\": 2,"},
                 {"plots.png", &CAnalysisWindow::OnSaveImage, "\x89PNG"},
                 {"plots.svg", &CAnalysisWindow::OnSaveImage, "<?xml"}};
    for (const auto& c : cases) {
        const fs::path path = dir / c.m_szName;
        test::WriteBytes(path, {'o', 'l', 'd'});
        {
            CFileDialogAnswer answer(QString::fromStdString(path.string()));
            (window->*c.m_pAction)();
        }
        const std::string bytes = test::Slurp(path);
        EXPECT_EQ(bytes.substr(0, c.m_strStarts.size()), c.m_strStarts) << c.m_szName;
        if (std::string(c.m_szName) == "plots.svg") { // the caption says what the picture shows
            EXPECT_NE(bytes.find("Stimulus: f0 277 Hz, 44100 Hz"), std::string::npos);
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.operator/("")), {}),
                  static_cast<long>(&c - cases) + 3)
            << "no temporary stays beside " << c.m_szName;
    }

    test::CRecordingFeedback feedback;
    CGenerationSettings quieter = test::ShortSettings(dir / "quieter.wav", 2.0);
    quieter.m_dMotherAmplitude = 0.5;
    ASSERT_TRUE(GenerateTestFile(quieter, feedback));
    {
        CFileDialogAnswer answer(QString::fromStdString((dir / "quieter.wav").string()));
        window->OnOverlay();
        EXPECT_TRUE(answer.m_strFilters.contains("*.wav") && answer.m_strFilters.contains("All files (*)"));
    }
    ASSERT_TRUE(Done(window));
    const auto& curves = window->findChild<CResponsePlot*>("response")->Curves();
    ASSERT_EQ(curves.size(), 2u);
    EXPECT_EQ(curves[0].m_strName, "default.wav");
    EXPECT_EQ(curves[1].m_strName, "quieter.wav");
    EXPECT_NEAR(curves[1].m_aPoints[0].m_dGainDb, 20.0 * std::log10(0.5), 0.01)
        << "against the settings' stimulus";
}

// Cancel and closing the window during a long analysis end it at once, and the thread the window
// started is joined by the time the window is gone. The workers' own count is compared, not the
// process's threads: Qt starts and ends threads of its own, and /proc lists a joined thread for a
// moment after its join.
TEST_F(AnalysisWindowTest, CancelAndCloseLeaveNoThreadBehind) {
    test::CTempDir dir;
    test::CRecordingFeedback feedback;
    ASSERT_TRUE(GenerateTestFile(test::ShortSettings(dir / "long.wav", 900.0), feedback));
    const int threads = CWorkerThread::UnjoinedThreads();
    const QString path = QString::fromStdString((dir / "long.wav").string());

    QPointer<CAnalysisWindow> cancelled = Drop(path);
    ASSERT_TRUE(cancelled->IsBusy());
    EXPECT_EQ(CWorkerThread::UnjoinedThreads(), threads + 1) << "the analysis runs on a thread of its own";
    auto* cancel = cancelled->findChild<QPushButton*>("cancelAnalysis");
    ASSERT_TRUE(cancel->isVisible());
    QTest::mouseClick(cancel, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return cancelled.isNull(); }, 3000)) << "nothing to show: it closes";
    EXPECT_EQ(CWorkerThread::UnjoinedThreads(), threads);

    QPointer<CAnalysisWindow> closed = Drop(path);
    ASSERT_TRUE(closed->IsBusy());
    const auto start = std::chrono::steady_clock::now();
    closed->close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(CWorkerThread::UnjoinedThreads(), threads) << "closing joins the analysis's thread";
    ASSERT_TRUE(QTest::qWaitFor([&] { return closed.isNull(); }, 3000));
}

// A recording with more channels than two asks which hold the left and the reference (the window's
// own advice), then shows the measurement of those; cancelling the question says why nothing shows.
TEST_F(AnalysisWindowTest, ManyChannelsAskWhichToMeasure) {
    test::CTempDir dir;
    const test::CDecodedWav stimulus = test::DecodeWithSndfile(Default().toStdString());
    std::vector<double> three; // silence, the reference, the left
    for (std::size_t i = 0; i + 1 < stimulus.m_aSamples.size(); i += 2) {
        three.insert(three.end(),
                     {0.0, stimulus.m_aSamples[i + 1] / 32768.0, stimulus.m_aSamples[i] / 32768.0});
    }
    ASSERT_TRUE(test::WriteSoundFile(dir / "three.wav", three, 3, 44100, 0x010000 | 0x0002)); // WAV, 16-bit
    const QString path = QString::fromStdString((dir / "three.wav").string());
    for (const bool answer : {true, false}) {
        int asked = 0;
        QTimer chooser;
        QObject::connect(&chooser, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            auto* left = dialog ? dialog->findChild<QSpinBox*>("leftChannel") : nullptr;
            if (left == nullptr || dialog->result() != 0 || !dialog->isVisible()) {
                return;
            }
            ++asked;
            EXPECT_EQ(left->maximum(), 3);
            left->setValue(3);
            dialog->findChild<QSpinBox*>("rightChannel")->setValue(2);
            answer ? dialog->accept() : dialog->reject();
        });
        chooser.start(5);
        test::CModalAnswerer boxes;
        QPointer<CAnalysisWindow> window = Drop(path);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return window.isNull() || (!window->IsBusy() && window->Report()); }, 10000));
        EXPECT_EQ(asked, 1);
        if (answer) {
            ASSERT_FALSE(window.isNull());
            EXPECT_EQ(window->Report()->m_nLeftChannel, 3);
            EXPECT_EQ(window->Report()->m_nRightChannel, 2);
            for (const auto& tone : window->Report()->m_aTones) {
                EXPECT_NEAR(tone.m_dGainDb, 0.0, 0.005) << tone.m_dFrequencyHz;
            }
            EXPECT_TRUE(boxes.m_aBoxes.empty());
            window->close();
            QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        } else {
            ASSERT_EQ(boxes.m_aBoxes.size(), 1u);
            EXPECT_TRUE(boxes.m_aBoxes[0].m_strDetail.contains(
                "it has 3 channels: choose the left and the reference"))
                << boxes.m_aBoxes[0].m_strDetail.toStdString();
            EXPECT_FALSE(boxes.m_aBoxes[0].m_strDetail.contains("--left"));
        }
    }
}

// A 5 ms delay: the phase plot is unwrapped, so it falls by 360 f tau from its first tone, and the
// lower plot turns to the group delay, which is the delay.
TEST_F(AnalysisWindowTest, PhaseIsUnwrappedAndGroupDelayShown) {
    test::CTempDir dir;
    const std::string delayed = (dir / "delayed.wav").string();
    ASSERT_TRUE(test::RunSox(
        {Default().toStdString(), "-e", "floating-point", "-b", "32", delayed, "delay", "0.005", "0"}));
    CAnalysisWindow* window = Drop(QString::fromStdString(delayed));
    ASSERT_TRUE(Done(window));
    auto* response = window->findChild<CResponsePlot*>("response");
    const auto& points = response->Curves().at(0).m_aPoints;
    ASSERT_EQ(points.size(), 37u);
    const double tau = std::round(0.005 * 44100) / 44100; // SoX delays by whole samples
    for (const auto& point : points) {
        EXPECT_NEAR(point.m_dUnwrappedDeg - points[0].m_dUnwrappedDeg,
                    -360.0 * (point.m_dFrequencyHz - points[0].m_dFrequencyHz) * tau, 0.05)
            << point.m_dFrequencyHz;
    }
    // The delay came from the starts on both channels: the polarity needs no caveat.
    EXPECT_EQ(window->SummaryValue("polarity"), "normal");
    EXPECT_EQ(window->SummaryValue("onset_s"), "0.000000 s");
    EXPECT_EQ(response->Lower(), CResponsePlot::ELower::Phase);
    window->findChild<QCheckBox*>("groupDelay")->setChecked(true);
    EXPECT_EQ(response->Lower(), CResponsePlot::ELower::GroupDelay);
    EXPECT_NEAR(points[0].m_dGroupDelayMs, tau * 1000.0, 1e-4);
}

// "Limits...": a flat mask passes the stimulus itself and fails SoX's low-pass, the verdict in the
// Summary and the mask on the Response; a limits file that does not parse gives one message.
TEST_F(AnalysisWindowTest, LimitsGiveAVerdictAndDrawTheirMasks) {
    test::CTempDir dir;
    test::WriteText(dir / "flat.toml",
                    "distortion_noise_db = { max = -80.0 }\n[[mask]]\nfigure = \"gain_db\"\n"
                    "upper = [[20.0, 0.5], [20000.0, 0.5]]\nlower = [[20.0, -0.5], [20000.0, -0.5]]\n");
    test::WriteText(dir / "bad.toml",
                    "[[mask]]\nfigure = \"gain_db\"\nupper = [[1000.0, 0.5], [100.0, 0.5]]\n");
    const std::string lowpass = (dir / "lowpass.wav").string();
    ASSERT_TRUE(test::RunSox({Default().toStdString(), lowpass, "lowpass", "-1", "1000"}));
    for (const auto& [path, verdict] : {std::pair{Default().toStdString(), QString("PASS (2 limits)")},
                                        std::pair{lowpass, QString("FAIL (1 of 2 limits)")}}) {
        CAnalysisWindow* window = Drop(QString::fromStdString(path));
        ASSERT_TRUE(Done(window));
        EXPECT_EQ(window->SummaryValue("verdict"), "no limits");
        {
            CFileDialogAnswer answer(QString::fromStdString((dir / "flat.toml").string()));
            window->OnLimits();
        }
        EXPECT_EQ(window->SummaryValue("verdict"), verdict) << path;
        ASSERT_EQ(window->findChild<CResponsePlot*>("response")->Masks().size(), 1u);
        // "Report..." files the same verdict, with the mask drawn.
        const std::filesystem::path page = dir / "report.html";
        {
            CFileDialogAnswer answer(QString::fromStdString(page.string()));
            window->findChild<QPushButton*>("report")->click();
        }
        const std::vector<unsigned char> bytes = test::ReadBytes(page);
        const std::string html(bytes.begin(), bytes.end());
        EXPECT_NE(html.find(verdict.startsWith("PASS") ? "id=\"verdict\">PASS" : "id=\"verdict\">FAIL"),
                  std::string::npos)
            << path;
        EXPECT_NE(html.find("class=\"mask\""), std::string::npos);
        window->close();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    CAnalysisWindow* window = Drop(Default());
    ASSERT_TRUE(Done(window));
    // The converter's full scale: the reference's level also in dBu, 18 dB above its dBFS; a level that
    // does not read leaves only dBFS.
    auto* fullScale = window->findChild<QLineEdit*>("fullScale");
    ASSERT_NE(fullScale, nullptr);
    const QString dbfs = window->SummaryValue("reference.level_dbfs");
    fullScale->setText("18dBu");
    emit fullScale->editingFinished();
    const double level = dbfs.section(' ', 0, 0).toDouble();
    EXPECT_EQ(window->SummaryValue("reference.level_dbfs"),
              dbfs + QStringLiteral(" (%1 dBu)").arg(level + 18.0, 0, 'f', 2));
    fullScale->setText("18 parsecs");
    emit fullScale->editingFinished();
    EXPECT_EQ(window->SummaryValue("reference.level_dbfs"), dbfs);
    test::CModalAnswerer answerer;
    EXPECT_FALSE(window->LoadLimits(QString::fromStdString((dir / "bad.toml").string())));
    ASSERT_EQ(answerer.m_aBoxes.size(), 1u);
    EXPECT_TRUE(answerer.m_aBoxes[0].m_strDetail.contains("line 3: the points of upper are out of order"))
        << answerer.m_aBoxes[0].m_strDetail.toStdString();
}

// "Sweep..." over a folder of recordings made here (the stimulus at each level, through nothing): the
// question checks its steps; the sweep lands in a "Sweep" tab of its own, every step at 0 dB gain, and
// "Report..." on that tab files the sweep's page.
TEST_F(AnalysisWindowTest, SweepShowsItsCurvesInATabOfItsOwn) {
    test::CTempDir dir;
    CGenerationSettings settings;
    settings.m_dDuration = 1.0;
    for (const int level : {-12, -6, 0}) {
        const CGenerationSettings step =
            instrument::StepSettings(settings, instrument::ESweepKind::Level, level);
        ASSERT_TRUE(test::WriteSoundFile(dir / ("step_" + std::to_string(level) + "dB.wav"),
                                         test::FloatStimulus(step), 2, 44100, 0x010000 | 0x0006));
    }
    CSweepDialog question(&m_dialog);
    auto* steps = question.findChild<QLineEdit*>("sweepSteps");
    auto* start = question.findChild<QPushButton*>("startSweep");
    question.findChild<QLineEdit*>("sweepFolder")->setText(QString::fromStdString(dir.Path().string()));
    steps->setText("-12:0:0");
    EXPECT_FALSE(start->isEnabled());
    EXPECT_TRUE(question.findChild<QLabel*>("sweepProblem")->text().contains("STEP other than 0"));
    steps->setText("-12:0:6");
    EXPECT_TRUE(start->isEnabled());
    ASSERT_TRUE(question.Spec());

    auto* window = new CAnalysisWindow(settings, &m_dialog);
    window->show();
    window->Sweep(*question.Spec(), question.Folder());
    ASSERT_TRUE(Done(window));
    ASSERT_NE(window->SweepShown(), nullptr);
    auto* tabs = window->findChild<QTabWidget*>("tabs");
    EXPECT_EQ(tabs->tabText(tabs->currentIndex()), "Sweep");
    const instrument::CSweepResult& sweep = window->findChild<CSweepPlot*>("sweepPlot")->Sweep();
    ASSERT_EQ(sweep.m_aSteps.size(), 3u);
    for (const auto& step : sweep.m_aSteps) {
        ASSERT_TRUE(step.m_outcome.m_report) << step.m_outcome.Message();
        EXPECT_NEAR(step.m_outcome.m_report->m_aTones.front().m_dGainDb, 0.0, 1e-3) << step.m_dValue;
    }
    const std::filesystem::path page = dir / "sweep.html";
    {
        CFileDialogAnswer answer(QString::fromStdString(page.string()));
        window->findChild<QPushButton*>("report")->click();
    }
    const std::vector<unsigned char> bytes = test::ReadBytes(page);
    const std::string html(bytes.begin(), bytes.end());
    EXPECT_NE(html.find("<h1>Level sweep</h1>"), std::string::npos);
    EXPECT_NE(html.find("step_-6dB.wav"), std::string::npos);
}

// Recordings that cannot be measured give one message naming the file and the reason, and the
// window, which has nothing to show, closes; a field that does not parse analyses nothing.
TEST_F(AnalysisWindowTest, BadRecordingsGiveOneMessage) {
    test::CTempDir dir;
    test::WriteBytes(dir / "text.wav", {'n', 'o', 't', ' ', 'a', 'u', 'd', 'i', 'o'});
    fs::create_directory(dir / "folder.wav");
    const std::pair<const char*, const char*> cases[] = {
        {"text.wav", "not a sound file that can be read"},
        {"folder.wav", "Is a directory"},
    };
    for (const auto& [name, reason] : cases) {
        test::CModalAnswerer answerer;
        QPointer<CAnalysisWindow> window = Drop(QString::fromStdString((dir / name).string()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.isNull(); }, 5000)) << name;
        ASSERT_EQ(answerer.m_aBoxes.size(), 1u) << name;
        EXPECT_TRUE(answerer.m_aBoxes[0].m_strDetail.contains(QString::fromStdString((dir / name).string())))
            << name;
        EXPECT_TRUE(answerer.m_aBoxes[0].m_strDetail.contains(reason))
            << answerer.m_aBoxes[0].m_strDetail.toStdString();
    }

    {
        // A recording of something else: refused with what it holds instead; the window, with
        // nothing to show (no plots, no Export), closes.
        ASSERT_TRUE(test::RunSox(
            {"-n", "-r", "44100", "-c", "2", (dir / "other.wav").string(), "synth", "2", "sine", "1000"}));
        test::CModalAnswerer answerer;
        QPointer<CAnalysisWindow> window = Drop(QString::fromStdString((dir / "other.wav").string()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.isNull(); }, 5000));
        ASSERT_EQ(answerer.m_aBoxes.size(), 1u);
        EXPECT_EQ(answerer.m_aBoxes[0].m_strText, "The recording cannot be analysed.");
        EXPECT_TRUE(answerer.m_aBoxes[0].m_strDetail.contains(
            "other.wav: cannot be analysed: no stimulus found: no tone near the expected f0 of 277 Hz"))
            << answerer.m_aBoxes[0].m_strDetail.toStdString();
    }

    test::CModalAnswerer answerer;
    m_dialog.findChild<QLineEdit*>("1006")->setText("abc");
    EXPECT_EQ(Drop(Default()), nullptr);
    ASSERT_EQ(answerer.m_aBoxes.size(), 1u);
    EXPECT_TRUE(answerer.m_aBoxes[0].m_strText.contains("fundamental frequency"));
}

} // namespace

#ifdef VORLANX_HAVE_SVG
// The Response's frequency labels at 144 dpi (fonts half as large again in pixels): 2 and 5 of each
// decade are labelled where they fit, only the decades where the plot is too narrow for them.
TEST(ResponsePlotTest, MinorFrequencyLabelsWhereTheyFitAt144Dpi) {
    const auto labels = [](int width) {
        CResponsePlot plot;
        QFont font = plot.font();
        font.setPixelSize(static_cast<int>(std::lround(QFontInfo(font).pixelSize() * 1.5)));
        plot.setFont(font);
        plot.resize(width, 400);
        std::vector<CResponsePlot::CPoint> points;
        for (const double hz : {831.0, 1385.0, 4155.0, 19667.0}) {
            points.push_back({hz, -10.0, 0.0, 0.0, NAN, 0.0});
        }
        plot.SetCurves({{QStringLiteral("dut.wav"), points, 0.0}}, 22050.0);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(plot.size());
        QPainter painter(&svg);
        plot.render(&painter);
        painter.end();
        return QString::fromUtf8(bytes);
    };
    const QString wide = labels(700); // the Response in the window at its usual size
    for (const char* label : {">1k<", ">2k<", ">5k<", ">10k<", ">20k<"}) {
        EXPECT_TRUE(wide.contains(QLatin1String(label))) << label;
    }
    const QString narrow = labels(260);
    EXPECT_TRUE(narrow.contains(QLatin1String(">10k<")));
    EXPECT_FALSE(narrow.contains(QLatin1String(">2k<"))) << "no room between 1k and 2k";
}
#endif
