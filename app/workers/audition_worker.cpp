#include "app/workers/audition_worker.h"

#include "audio/audio_session.h"
#include "audio/audio_system.h"

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
            CProgress progress(*this);
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
