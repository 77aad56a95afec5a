#include "python/continuous_run.h"

#include <utility>

CContinuousRun::CContinuousRun(const CGenerationSettings& settings, const instrument::CLiveDevices& devices,
                               const analysis::CAnalysisOptions& options,
                               const instrument::CContinuousOptions& continuous)
    : m_plan(instrument::PlanContinuous(settings, continuous)) {
    m_thread = std::thread([this, settings, devices, options, continuous] {
        try {
            instrument::MeasureContinuously(settings, devices, options, continuous, &m_progress,
                                            [this](const instrument::CContinuousUpdate& update) {
                                                const std::lock_guard lock(m_mutex);
                                                if (m_aQueue.size() == kQueued) {
                                                    m_aQueue.pop_front();
                                                    ++m_nDropped;
                                                }
                                                m_aQueue.push_back(update);
                                                m_changed.notify_all();
                                                return !m_bStop.load();
                                            });
        } catch (...) {
            const std::lock_guard lock(m_mutex);
            m_error = std::current_exception();
        }
        const std::lock_guard lock(m_mutex);
        m_bEnded = true;
        m_changed.notify_all();
    });
}

CContinuousRun::~CContinuousRun() {
    Stop();
}

void CContinuousRun::Stop() {
    m_bStop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

CContinuousRun::EWait CContinuousRun::Next(instrument::CContinuousUpdate& out,
                                           std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, timeout, [this] { return !m_aQueue.empty() || m_bEnded; });
    if (!m_aQueue.empty()) {
        out = std::move(m_aQueue.front());
        m_aQueue.pop_front();
        return EWait::Update;
    }
    return m_bEnded ? EWait::Finished : EWait::Timeout;
}

void CContinuousRun::RethrowIfFailed() {
    std::exception_ptr error;
    {
        const std::lock_guard lock(m_mutex);
        error = std::exchange(m_error, nullptr);
    }
    if (error) {
        std::rethrow_exception(error);
    }
}
