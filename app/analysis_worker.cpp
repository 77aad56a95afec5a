#include "app/analysis_worker.h"

#include "analysis/analysis_plan.h"
#include "analysis/analyzer.h"
#include "analysis/file_recording.h"
#include "generation/job_plan.h"

namespace {

// The analysis's feedback: progress as a queued signal, and the worker's cancel.
class CWorkerFeedback : public analysis::CAnalysisFeedback {
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
            std::string error;
            const auto recording = analysis::CFileRecording::Open(path, error);
            if (!recording) {
                result.m_strError = path + ": " + error;
            } else {
                CGenerationSettings stimulus = settings;
                stimulus.m_dDuration = 0.0; // the stimulus's length plays no part in its lines
                const analysis::CAnalysisPlan plan =
                    analysis::MakeAnalysisPlan(MakeJobPlan(stimulus), recording->SampleRate());
                CWorkerFeedback feedback(*this, [this] { return Cancelling(); });
                analysis::CAnalysisReport report =
                    analysis::AnalyzeRecording(plan, *recording, {}, &feedback);
                if (report.m_strRefusal) {
                    result.m_strError = path + ": cannot be analysed: " + *report.m_strRefusal;
                } else {
                    result.m_report = std::move(report);
                }
            }
        } catch (const analysis::CAnalysisCancelled&) {
            return; // no result
        } catch (const std::exception& error) {
            result.m_strError = error.what(); // a read failure names the file
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
