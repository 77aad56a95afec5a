#pragma once

#include <QObject>
#include <atomic>
#include <thread>

#include "generation/job_plan.h"
#include "generation/settings.h"

// Works out the exact peak of a whole file's left channel on a thread of its own, one request at
// a time: a new request, Stop() or the destructor cancels the one before (within a rendering
// round) and waits for its thread. The result comes back as `found`, queued to the thread the
// worker lives in (the GUI thread).
class CPeakWorker : public QObject {
    Q_OBJECT
public:
    explicit CPeakWorker(QObject* parent = nullptr);
    ~CPeakWorker() override;

    // Starts on copies of `settings` and its `plan` (which must not be refused); returns the
    // request's number, which `found` carries.
    quint64 Start(const CGenerationSettings& settings, const CJobPlan& plan);
    // Cancels the running request, if any, and waits for its thread. Its `found` never comes.
    void Stop();

signals:
    void found(quint64 request, double peak);

private:
    std::thread m_thread;
    std::atomic<bool> m_bCancel{false};
    std::atomic<quint64> m_nRequest{0};
};
