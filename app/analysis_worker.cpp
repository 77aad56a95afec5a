#include "app/analysis_worker.h"

#include "analysis/analysis_plan.h"
#include "analysis/analyzer.h"
#include "analysis/file_recording.h"
#include "audio/audio_session.h"
#include "audio/audio_system.h"
#include "generation/job_plan.h"
#include "platform/temporary_file.h"

namespace {

// The feedback of both steps, the recording and the analysis: progress as a queued signal, and the
// worker's cancel (one override serves both interfaces: their functions are the same).
class CWorkerFeedback : public analysis::CAnalysisFeedback, public audio::CAudioFeedback {
public:
    CWorkerFeedback(CAnalysisWorker& worker, std::function<bool()> cancelling)
        : m_worker(worker), m_cancelling(std::move(cancelling)) {}
    void ReportProgress(std::uint64_t done, std::uint64_t total) override {
        emit m_worker.progressed(static_cast<qint64>(done), static_cast<qint64>(total));
    }
    bool CancelRequested() override { return m_cancelling(); }

private:
    CAnalysisWorker& m_worker;
    std::function<bool()> m_cancelling;
};

// Analyses `path` with `options` into `result` (its report, or why not).
void AnalyseFile(CAnalysisWorker& worker, const std::string& path, const CGenerationSettings& settings,
                 const analysis::CAnalysisOptions& options, std::function<bool()> cancelling,
                 CAnalysisWorker::CResult& result) {
    std::string error;
    const auto recording = analysis::CFileRecording::Open(path, error);
    if (!recording) {
        result.m_strError = path + ": " + error;
        return;
    }
    CGenerationSettings stimulus = settings;
    stimulus.m_dDuration = 0.0; // the stimulus's length plays no part in its lines
    const analysis::CAnalysisPlan plan =
        analysis::MakeAnalysisPlan(MakeJobPlan(stimulus), recording->SampleRate());
    CWorkerFeedback feedback(worker, std::move(cancelling));
    analysis::CAnalysisReport report = analysis::AnalyzeRecording(plan, *recording, options, &feedback);
    if (report.m_strRefusal) {
        result.m_strError = result.m_strPath + ": cannot be analysed: " + *report.m_strRefusal;
    } else {
        result.m_report = std::move(report);
    }
}

} // namespace

CAnalysisWorker::CAnalysisWorker(QObject* parent) : CWorkerThread(parent) {}

CAnalysisWorker::~CAnalysisWorker() {
    Cancel();
    Wait();
}

void CAnalysisWorker::Start(const std::string& path, const CGenerationSettings& settings) {
    Wait();
    TakeResult();
    Run([this, path, settings] {
        CResult result{path, std::nullopt, {}};
        try {
            AnalyseFile(
                *this, path, settings, {}, [this] { return Cancelling(); }, result);
        } catch (const analysis::CAnalysisCancelled&) {
            return; // no result
        } catch (const std::exception& error) {
            result.m_strError = error.what(); // a read failure names the file
        }
        const std::lock_guard lock(m_resultMutex);
        m_result = std::move(result);
    });
}

void CAnalysisWorker::StartMeasurement(const CGenerationSettings& settings, const std::string& output,
                                       const std::string& input) {
    Wait();
    TakeResult();
    Run([this, settings, output, input] {
        CResult result{"live: " + output + " to " + input, std::nullopt, {}};
        try {
            emit measuring(true);
            const audio::CAudioSystem system;
            const audio::CDeviceInfo& out = system.Find(output, audio::EDirection::Output);
            const audio::CDeviceInfo& in = system.Find(input, audio::EDirection::Input);
            const platform::CTemporaryFile recording("vorlanx-recording-", ".wav");
            CWorkerFeedback feedback(*this, [this] { return Cancelling(); });
            const audio::CSessionReport session =
                audio::RecordResponse(system, out, in, settings, recording.Path(), feedback);
            if (session.m_bCancelled) {
                return; // no result
            }
            const analysis::CAnalysisOptions defaults;
            const std::optional<audio::CAnswerSpan> span =
                audio::AnswerSpan(session, settings.m_dDuration, defaults.m_dSkipS, std::nullopt);
            if (const std::optional<std::string> problem = audio::RecordingProblem(session, in)) {
                result.m_strError = *problem;
            } else if (!span) {
                result.m_strError =
                    "The stimulus is too short to measure: the settling and the latency take all "
                    "of its duration.";
            } else {
                emit measuring(false);
                analysis::CAnalysisOptions options;
                options.m_dSkipS = span->m_dSkipS;
                options.m_dLengthS = span->m_dLengthS;
                AnalyseFile(
                    *this, recording.Path(), settings, options, [this] { return Cancelling(); }, result);
                if (result.m_report) {
                    result.m_report->m_strRecording = result.m_strPath;
                }
            }
            if (result.m_report && session.m_nUnderruns > 0) {
                result.m_report->m_aWarnings.push_back(std::to_string(session.m_nUnderruns) +
                                                       " underrun(s) on '" + out.m_strName +
                                                       "': it played silence where the stimulus was late.");
            }
        } catch (const analysis::CAnalysisCancelled&) {
            return;
        } catch (const std::exception& error) {
            result.m_strError = error.what();
        }
        const std::lock_guard lock(m_resultMutex);
        m_result = std::move(result);
    });
}

std::optional<CAnalysisWorker::CResult> CAnalysisWorker::TakeResult() {
    const std::lock_guard lock(m_resultMutex);
    std::optional<CResult> result;
    result.swap(m_result);
    return result;
}
