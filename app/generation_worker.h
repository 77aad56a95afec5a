#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "app/worker_thread.h"
#include "generation/feedback.h"
#include "generation/settings.h"

// Runs one generate job at a time on a thread of its own, so the dialog stays responsive. The job's
// feedback comes back as signals, queued to the thread the worker lives in (the GUI thread): the
// wait, the progress, and at the end `finished`, after which TakeMessage() holds the one message
// the job had for the user (an exception on the job's thread becomes such a message).
class CGenerationWorker : public CWorkerThread, private CGenerationFeedback {
    Q_OBJECT
public:
    struct CMessage {
        std::string m_strText;
        unsigned m_nType = MB_OK;
        std::string m_strDetail; // empty when there is none
    };

    // What a job that wrote its file produced.
    struct CResult {
        std::string m_strPath;
        std::uint64_t m_nBytes = 0;
        double m_dSeconds = 0.0; // wall time of the job
        double m_dPeak = 0.0;
    };

    explicit CGenerationWorker(QObject* parent = nullptr);
    // Cancels a running job and waits for its thread.
    ~CGenerationWorker() override;

    // Starts the job with a copy of `settings`. Only when no job is running.
    void Start(const CGenerationSettings& settings);
    // The job's message, once: after `finished`.
    std::optional<CMessage> TakeMessage();
    // What the job wrote, once: after `finished`; nullopt when it wrote no complete file.
    std::optional<CResult> TakeResult();

signals:
    void waitBegun();
    void waitEnded();
    void progressed(qint64 framesWritten, qint64 frameCount);
    // The output is a FIFO that no program reads yet; Cancel() ends the wait.
    void waitingForReader(const QString& path);

private:
    // CGenerationFeedback, called on the job's thread.
    void BeginWait() override;
    void EndWait() override;
    void ShowMessage(const std::string& text, unsigned type) override;
    void ShowDetailedMessage(const std::string& text, unsigned type, const std::string& detail) override;
    void ReportProgress(std::uint64_t framesWritten, std::uint64_t frameCount) override;
    bool CancelRequested() override;
    void ReportWaiting(const std::string& path) override;

    std::mutex m_messageMutex; // the job's thread writes the message and result, the GUI thread takes them
    std::optional<CMessage> m_message;
    std::optional<CResult> m_result;
};
