#include "app/workers/audition_worker.h"

#include <functional>

#include "audio/audio_session.h"
#include "audio/audio_system.h"

namespace {

// The session's cancel: the worker's.
class CAuditionProgress : public platform::CProgress {
public:
    explicit CAuditionProgress(std::function<bool()> cancelling) : m_cancelling(std::move(cancelling)) {}
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
    Run([this, settings]() -> CDelivery {
        COutcome outcome;
        try {
            const audio::CAudioSystem system;
            const audio::CDeviceInfo& device = system.Find({}, audio::EDirection::Output);
            CAuditionProgress progress([this] { return Cancelling(); });
            const audio::CSessionReport report =
                audio::PlayStimulus(system, device, settings, false, progress);
            outcome.m_nUnderruns = report.m_nUnderruns;
            outcome.m_bStopped = report.m_bCancelled;
        } catch (const std::exception& error) {
            outcome.m_strError = error.what();
        }
        return [this, outcome] { emit finished(outcome); };
    });
}
