#include "app/generation_worker.h"

#include <exception>

#include "generation/generate_job.h"

CGenerationWorker::CGenerationWorker(QObject* parent) : QObject(parent) {}

CGenerationWorker::~CGenerationWorker() {
    Cancel();
    Wait();
}

void CGenerationWorker::Start(const CGenerationSettings& settings) {
    Wait(); // a finished thread is deleted before the next starts
    delete m_pThread;
    m_bCancel = false;
    TakeMessage();
    m_pThread = QThread::create([this, settings] {
        // No exception may end the thread: whatever the job lets through becomes its message.
        try {
            GenerateTestFile(settings, *this);
        } catch (const std::exception& error) {
            ShowMessage(std::string("Generation failed: ") + error.what(), MB_ICONEXCLAMATION);
        } catch (...) {
            ShowMessage("Generation failed for an unknown reason.", MB_ICONEXCLAMATION);
        }
    });
    m_pThread->setParent(this);
    connect(m_pThread, &QThread::finished, this, &CGenerationWorker::finished);
    m_pThread->start();
}

void CGenerationWorker::Cancel() {
    m_bCancel = true;
}

bool CGenerationWorker::IsRunning() const {
    return m_pThread != nullptr && !m_pThread->isFinished();
}

void CGenerationWorker::Wait() {
    if (m_pThread != nullptr) {
        m_pThread->wait();
    }
}

std::optional<CGenerationWorker::CMessage> CGenerationWorker::TakeMessage() {
    const std::lock_guard lock(m_messageMutex);
    std::optional<CMessage> message;
    message.swap(m_message);
    return message;
}

void CGenerationWorker::BeginWait() {
    emit waitBegun();
}

void CGenerationWorker::EndWait() {
    emit waitEnded();
}

void CGenerationWorker::ShowMessage(const std::string& text, unsigned type) {
    m_message = CMessage{text, type, {}};
}

void CGenerationWorker::ShowDetailedMessage(const std::string& text, unsigned type,
                                            const std::string& detail) {
    m_message = CMessage{text, type, detail};
}

void CGenerationWorker::ReportProgress(std::uint64_t framesWritten, std::uint64_t frameCount) {
    emit progressed(static_cast<qint64>(framesWritten), static_cast<qint64>(frameCount));
}

bool CGenerationWorker::CancelRequested() {
    return m_bCancel;
}
