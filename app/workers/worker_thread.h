#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "platform/progress.h"

// One piece of work at a time on a thread of its own, so a window stays responsive: Run() starts it
// (after joining the last), Cancel() asks it to stop at its next question, the destructor cancels
// and joins. When the work has ended, whichever way, what it returned is called on the thread the
// object lives in (the GUI thread): there each worker emits its own `finished` signal carrying its
// result, as Qt's threaded examples do, so no result waits in a slot to be taken. A standard thread
// rather than a QThread: joining it is a synchronization that thread sanitizers see, and nothing of
// Qt runs on it but queued signals.
class CWorkerThread : public QObject {
    Q_OBJECT
public:
    explicit CWorkerThread(QObject* parent = nullptr);
    // Cancels running work and waits for its thread. A derived class whose work uses its members
    // does the same in its own destructor, before they go.
    ~CWorkerThread() override;

    // Asks the running work to stop. Any thread; does nothing when none runs.
    void Cancel();
    // True from Run until the work's thread has ended.
    bool IsRunning() const;
    // Blocks until the work's thread has ended; its signals are still queued afterwards.
    void Wait();
    // How many threads all workers of the process have started and not yet joined. Any thread.
    // Counted here rather than read from /proc: a joined thread's entry there can outlive the join.
    static int UnjoinedThreads();

protected:
    // The app's one adapter of platform::CProgress, used on the work's thread: the worker's cancel,
    // and each report passed to `report` (which emits the worker's queued progress signal), if given.
    class CProgress : public platform::CProgress {
    public:
        explicit CProgress(const CWorkerThread& worker,
                           std::function<void(std::uint64_t, std::uint64_t)> report = {})
            : m_worker(worker), m_report(std::move(report)) {}
        void ReportProgress(std::uint64_t done, std::uint64_t total) override {
            if (m_report) {
                m_report(done, total);
            }
        }
        bool CancelRequested() override { return m_worker.Cancelling(); }

    private:
        const CWorkerThread& m_worker;
        std::function<void(std::uint64_t, std::uint64_t)> m_report;
    };

    // What a worker's work returns: called on the GUI thread once the work has ended (IsRunning is
    // false by then); not called when the worker is destroyed first.
    using CDelivery = std::function<void()>;
    // Starts `work` on the thread, with the cancel flag cleared. Only when no work is running. The
    // work must not throw.
    void Run(std::function<CDelivery()> work);
    // What the work asks between its steps: true once Cancel() was called.
    bool Cancelling() const;

private:
    std::thread m_thread;
    std::atomic<bool> m_bRunning{false};
    std::atomic<bool> m_bCancel{false};
};
