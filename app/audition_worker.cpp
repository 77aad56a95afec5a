#include "app/audition_worker.h"

#include <functional>

#include "audio/audio_session.h"
#include "audio/audio_system.h"

namespace {

class CAuditionFeedback : public audio::CAudioFeedback {
public:
    explicit CAuditionFeedback(std::function<bool()> cancelling) : m_cancelling(std::move(cancelling)) {}
    bool CancelRequested() override { return m_cancelling(); }

private:
    std::function<bool()> m_cancelling;
};

} // namespace

CAuditionWorker::CAuditionWorker(QObject* parent) : CWorkerThread(parent) {}

CAuditionWorker::~CAuditionWorker() {
    Cancel();
    Wait();
}

void CAuditionWorker::Start(const CGenerationSettings& settings) {
    Wait();
    TakeOutcome();
    Run([this, settings] {
        COutcome outcome;
        try {
            const audio::CAudioSystem system;
            const audio::CDeviceInfo& device = system.Find({}, audio::EDirection::Output);
            CAuditionFeedback feedback([this] { return Cancelling(); });
            const audio::CSessionReport report =
                audio::PlayStimulus(system, device, settings, false, feedback);
            outcome.m_nUnderruns = report.m_nUnderruns;
            outcome.m_bStopped = report.m_bCancelled;
        } catch (const std::exception& error) {
            outcome.m_strError = error.what();
        }
        const std::lock_guard lock(m_outcomeMutex);
        m_outcome = std::move(outcome);
    });
}

std::optional<CAuditionWorker::COutcome> CAuditionWorker::TakeOutcome() {
    const std::lock_guard lock(m_outcomeMutex);
    std::optional<COutcome> outcome;
    outcome.swap(m_outcome);
    return outcome;
}
