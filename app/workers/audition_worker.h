#pragma once

#include <cstdint>
#include <string>

#include "app/workers/worker_thread.h"
#include "generation/settings.h"

// Plays the stimulus on the system's default output device on a thread of its own, for its duration
// or until Cancel (the dialog's "Stop"). `finished` says how it ended: an error message (no device,
// a device that fails), the underruns counted, or nothing to say.
class CAuditionWorker : public CWorkerThread {
    Q_OBJECT
public:
    struct COutcome {
        std::string m_strError; // empty when it played
        std::uint64_t m_nUnderruns = 0;
        bool m_bStopped = false; // Stop ended it before its end
    };

    explicit CAuditionWorker(QObject* parent = nullptr);
    ~CAuditionWorker() override;

    // Starts playing `settings`' signal. Only when nothing is playing.
    void Start(const CGenerationSettings& settings);

signals:
    void finished(const CAuditionWorker::COutcome& outcome);
};
