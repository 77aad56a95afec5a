#include "app/workers/generation_worker.h"

#include <chrono>
#include <exception>

#include "generation/generate_job.h"

namespace {

// The job's feedback on its thread: the wait and the FIFO's wait as the worker's queued signals, the
// message kept for `finished`, progress and cancel through the worker's progress adapter.
class CJobFeedback : public CGenerationFeedback {
public:
    CJobFeedback(CGenerationWorker& worker, platform::CProgress& progress)
        : m_worker(worker), m_progress(progress) {}
    void BeginWait() override { emit m_worker.waitBegun(); }
    void EndWait() override { emit m_worker.waitEnded(); }
    void ShowMessage(const std::string& text, unsigned type) override { ShowDetailedMessage(text, type, {}); }
    void ShowDetailedMessage(const std::string& text, unsigned type, const std::string& detail) override {
        m_message = CGenerationWorker::CMessage{text, type, detail};
    }
    void ReportProgress(std::uint64_t framesWritten, std::uint64_t frameCount) override {
        m_progress.ReportProgress(framesWritten, frameCount);
    }
    bool CancelRequested() override { return m_progress.CancelRequested(); }
    void ReportWaiting(const std::string& path) override {
        emit m_worker.waitingForReader(QString::fromStdString(path));
    }

    std::optional<CGenerationWorker::CMessage> m_message;

private:
    CGenerationWorker& m_worker;
    platform::CProgress& m_progress;
};

} // namespace

CGenerationWorker::CGenerationWorker(QObject* parent) : CWorkerThread(parent) {}

CGenerationWorker::~CGenerationWorker() {
    Cancel();
    Wait();
}

void CGenerationWorker::Start(const CGenerationSettings& settings) {
    Run([this, settings]() -> CDelivery {
        CProgress progress(*this, [this](std::uint64_t done, std::uint64_t total) {
            emit progressed(static_cast<qint64>(done), static_cast<qint64>(total));
        });
        CJobFeedback feedback(*this, progress);
        CResult result;
        // No exception may end the thread: whatever the job lets through becomes its message.
        try {
            const auto start = std::chrono::steady_clock::now();
            CJobOutcome outcome;
            if (GenerateTestFile(settings, feedback, {}, &outcome)) {
                const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
                result.m_written =
                    CWritten{settings.m_strFileName, outcome.m_nBytes, seconds.count(), outcome.m_dPeak};
            } else if (outcome.m_eEnd == CJobOutcome::EEnd::ReaderGone) {
                // The command line ends quietly, as a pipeline's tools do; a window says what happened.
                feedback.ShowMessage("The program reading " + settings.m_strFileName +
                                         " stopped reading after " + std::to_string(outcome.m_nBytesSent) +
                                         " of " + std::to_string(outcome.m_nBytes) +
                                         " bytes: the stream is incomplete.",
                                     MB_ICONEXCLAMATION);
            }
        } catch (const std::exception& error) {
            feedback.ShowMessage(std::string("Generation failed: ") + error.what(), MB_ICONEXCLAMATION);
        } catch (...) {
            feedback.ShowMessage("Generation failed for an unknown reason.", MB_ICONEXCLAMATION);
        }
        result.m_message = feedback.m_message;
        return [this, result] { emit finished(result); };
    });
}
