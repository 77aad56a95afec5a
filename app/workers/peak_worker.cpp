#include "app/workers/peak_worker.h"

#include "generation/frame_render.h"

namespace {

// The rendering's feedback: nothing to show, and a cancel when asked.
class CCancelOnly : public CGenerationFeedback {
public:
    explicit CCancelOnly(const std::atomic<bool>& cancel) : m_bCancel(cancel) {}
    void BeginWait() override {}
    void EndWait() override {}
    void ShowMessage(const std::string&, unsigned) override {}
    bool CancelRequested() override { return m_bCancel.load(std::memory_order_relaxed); }

private:
    const std::atomic<bool>& m_bCancel;
};

} // namespace

CPeakWorker::CPeakWorker(QObject* parent) : QObject(parent) {}

CPeakWorker::~CPeakWorker() {
    Stop();
}

quint64 CPeakWorker::Start(const CGenerationSettings& settings, const CJobPlan& plan) {
    Stop();
    m_bCancel = false;
    const quint64 request = ++m_nRequest;
    m_thread = std::thread([this, settings, plan, request] {
        CCancelOnly feedback(m_bCancel);
        try {
            const double peak = WholeFilePeak(settings, plan, {}, &feedback);
            QMetaObject::invokeMethod(
                this,
                [this, request, peak] {
                    if (request == m_nRequest) { // not superseded meanwhile
                        emit found(request, peak);
                    }
                },
                Qt::QueuedConnection);
        } catch (const std::exception&) {
            // Cancelled, or out of memory: no peak; the preview keeps saying "first second".
        }
    });
    return request;
}

void CPeakWorker::Stop() {
    m_bCancel = true;
    ++m_nRequest; // a result already queued is dropped
    if (m_thread.joinable()) {
        m_thread.join();
    }
}
