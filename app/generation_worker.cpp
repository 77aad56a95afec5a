#include "app/generation_worker.h"

#include <chrono>
#include <exception>

#include "generation/generate_job.h"

CGenerationWorker::CGenerationWorker(QObject* parent) : CWorkerThread(parent) {}

CGenerationWorker::~CGenerationWorker() {
    Cancel();
    Wait();
}

void CGenerationWorker::Start(const CGenerationSettings& settings) {
    Wait(); // the last job's message and result are taken only after it has ended
    TakeMessage();
    TakeResult();
    Run([this, settings] {
        // No exception may end the thread: whatever the job lets through becomes its message.
        try {
            const auto start = std::chrono::steady_clock::now();
            CJobOutcome outcome;
            if (GenerateTestFile(settings, *this, {}, &outcome)) {
                const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
                const std::lock_guard lock(m_messageMutex);
                m_result =
                    CResult{settings.m_strFileName, outcome.m_nBytes, seconds.count(), outcome.m_dPeak};
            } else if (outcome.m_eEnd == CJobOutcome::EEnd::ReaderGone) {
                // The command line ends quietly, as a pipeline's tools do; a window says what happened.
                ShowMessage("The program reading " + settings.m_strFileName + " stopped reading after " +
                                std::to_string(outcome.m_nBytesSent) + " of " +
                                std::to_string(outcome.m_nBytes) + " bytes: the stream is incomplete.",
                            MB_ICONEXCLAMATION);
            }
        } catch (const std::exception& error) {
            ShowMessage(std::string("Generation failed: ") + error.what(), MB_ICONEXCLAMATION);
        } catch (...) {
            ShowMessage("Generation failed for an unknown reason.", MB_ICONEXCLAMATION);
        }
    });
}

std::optional<CGenerationWorker::CMessage> CGenerationWorker::TakeMessage() {
    const std::lock_guard lock(m_messageMutex);
    std::optional<CMessage> message;
    message.swap(m_message);
    return message;
}

std::optional<CGenerationWorker::CResult> CGenerationWorker::TakeResult() {
    const std::lock_guard lock(m_messageMutex);
    std::optional<CResult> result;
    result.swap(m_result);
    return result;
}

void CGenerationWorker::BeginWait() {
    emit waitBegun();
}

void CGenerationWorker::EndWait() {
    emit waitEnded();
}

void CGenerationWorker::ShowMessage(const std::string& text, unsigned type) {
    ShowDetailedMessage(text, type, {});
}

void CGenerationWorker::ShowDetailedMessage(const std::string& text, unsigned type,
                                            const std::string& detail) {
    const std::lock_guard lock(m_messageMutex);
    m_message = CMessage{text, type, detail};
}

void CGenerationWorker::ReportWaiting(const std::string& path) {
    emit waitingForReader(QString::fromStdString(path));
}

void CGenerationWorker::ReportProgress(std::uint64_t framesWritten, std::uint64_t frameCount) {
    emit progressed(static_cast<qint64>(framesWritten), static_cast<qint64>(frameCount));
}

bool CGenerationWorker::CancelRequested() {
    return Cancelling();
}
