#pragma once

#include <optional>
#include <string>

#include "app/workers/worker_thread.h"
#include "generation/feedback.h"
#include "generation/settings.h"

// Runs one generate job at a time on a thread of its own, so the dialog stays responsive. The job's
// feedback comes back as signals, queued to the thread the worker lives in (the GUI thread): the
// wait, the progress, and at the end `finished` with what the job wrote and the one message it had
// for the user (an exception on the job's thread becomes such a message).
class CGenerationWorker : public CWorkerThread {
    Q_OBJECT
public:
    struct CMessage {
        std::string m_strText;
        unsigned m_nType = MB_OK;
        std::string m_strDetail; // empty when there is none
    };

    // What a job that wrote its file produced.
    struct CWritten {
        std::string m_strPath;
        std::uint64_t m_nBytes = 0;
        double m_dSeconds = 0.0; // wall time of the job
        double m_dPeak = 0.0;
    };

    // How a job ended.
    struct CResult {
        std::optional<CWritten> m_written; // nullopt when it wrote no complete file
        std::optional<CMessage> m_message; // the job's message, if it had one
    };

    explicit CGenerationWorker(QObject* parent = nullptr);
    // Cancels a running job and waits for its thread.
    ~CGenerationWorker() override;

    // Starts the job with a copy of `settings`. Only when no job is running.
    void Start(const CGenerationSettings& settings);

signals:
    void waitBegun();
    void waitEnded();
    void progressed(qint64 framesWritten, qint64 frameCount);
    // The output is a FIFO that no program reads yet; Cancel() ends the wait.
    void waitingForReader(const QString& path);
    void finished(const CGenerationWorker::CResult& result);
};
