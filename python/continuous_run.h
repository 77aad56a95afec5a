#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "instrument/measure_continuous.h"

// A continuous measurement on a thread of its own, for an iterator: its updates wait in a queue (the
// newest kQueued; older ones are dropped when nobody takes them) until Next takes them. Knows nothing
// of Python: the module's iterator releases the interpreter's lock around Next.
class CContinuousRun {
public:
    static constexpr std::size_t kQueued = 64;
    enum class EWait { Update, Timeout, Finished };

    // Plans on the calling thread (std::invalid_argument for options out of range, refused settings),
    // then starts the measurement.
    CContinuousRun(const CGenerationSettings& settings, const instrument::CLiveDevices& devices,
                   const analysis::CAnalysisOptions& options,
                   const instrument::CContinuousOptions& continuous);
    // Stops the measurement and waits for the devices to be released.
    ~CContinuousRun();
    CContinuousRun(const CContinuousRun&) = delete;
    CContinuousRun& operator=(const CContinuousRun&) = delete;

    // Takes the oldest waiting update into `out` (Update), or waits up to `timeout` for one (Timeout);
    // Finished once the measurement has ended and every update was taken. Any thread.
    EWait Next(instrument::CContinuousUpdate& out, std::chrono::milliseconds timeout);
    // What ended the measurement, if it failed (a device), rethrown; nothing otherwise.
    void RethrowIfFailed();
    // Asks the measurement to stop and waits for it.
    void Stop();
    double BlockS() const { return m_plan.m_dBlockS; }

private:
    class CStopProgress : public platform::CProgress {
    public:
        explicit CStopProgress(const std::atomic<bool>& stop) : m_bStop(stop) {}
        bool CancelRequested() override { return m_bStop.load(); }

    private:
        const std::atomic<bool>& m_bStop;
    };

    instrument::CContinuousPlan m_plan;
    std::atomic<bool> m_bStop{false};
    CStopProgress m_progress{m_bStop};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<instrument::CContinuousUpdate> m_aQueue;
    bool m_bEnded = false;
    std::exception_ptr m_error;
    std::uint64_t m_nDropped = 0;
    std::thread m_thread;
};
