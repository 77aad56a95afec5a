#include "app/workers/analysis_worker.h"

#include "instrument/analyse_file.h"
#include "instrument/measure_continuous.h"
#include "instrument/measure_live.h"

CAnalysisWorker::CAnalysisWorker(QObject* parent) : CWorkerThread(parent) {}

CAnalysisWorker::~CAnalysisWorker() {
    Cancel();
    Wait();
}

void CAnalysisWorker::Start(const std::string& path, const CGenerationSettings& settings,
                            const analysis::CAnalysisOptions& options) {
    Run([this, path, settings, options]() -> CDelivery {
        CResult result;
        result.m_strPath = path;
        try {
            CProgress progress(*this, [this](std::uint64_t done, std::uint64_t total) {
                emit progressed(static_cast<qint64>(done), static_cast<qint64>(total));
            });
            // The dialog's fields say the stimulus's rate.
            result.m_outcome = instrument::AnalyseFile(settings, path, options, &progress, true);
        } catch (const platform::CCancelled&) {
            result = CResult{true, path, {}, {}};
        } catch (const std::exception& error) {
            result.m_strError = error.what(); // a read failure names the file
        }
        return [this, result] { emit finished(result); };
    });
}

void CAnalysisWorker::StartMeasurement(const CGenerationSettings& settings, const std::string& output,
                                       const std::string& input) {
    Run([this, settings, output, input]() -> CDelivery {
        CResult result;
        result.m_strPath = "live: " + output + " to " + input;
        try {
            emit measuring(true);
            CProgress progress(*this, [this](std::uint64_t done, std::uint64_t total) {
                emit progressed(static_cast<qint64>(done), static_cast<qint64>(total));
            });
            instrument::CLiveOutcome live = instrument::MeasureLive(
                settings, {output, input, {}}, {}, &progress, [this] { emit measuring(false); });
            result.m_nUnderruns = live.m_session.m_nUnderruns;
            result.m_nOverruns = live.m_session.m_nOverruns;
            result.m_outcome = std::move(live);
            if (result.m_outcome.m_report) {
                result.m_outcome.m_report->m_strRecording = result.m_strPath;
            }
        } catch (const platform::CCancelled&) {
            result = CResult{true, result.m_strPath, {}, {}};
        } catch (const std::exception& error) {
            result.m_strError = error.what();
        }
        return [this, result] { emit finished(result); };
    });
}

void CAnalysisWorker::StartContinuous(const CGenerationSettings& settings, const std::string& output,
                                      const std::string& input, unsigned average) {
    Run([this, settings, output, input, average]() -> CDelivery {
        CResult result;
        result.m_strPath = "live: " + output + " to " + input;
        try {
            CProgress progress(*this);
            instrument::CContinuousOptions continuous;
            continuous.m_nAverage = average;
            const audio::CSessionReport session = instrument::MeasureContinuously(
                settings, {output, input, {}}, {}, continuous, &progress,
                [this, &result](const instrument::CContinuousUpdate& update) {
                    CResult each;
                    each.m_strPath = result.m_strPath;
                    each.m_outcome = update.m_outcome;
                    if (each.m_outcome.m_report) {
                        each.m_outcome.m_report->m_strRecording = result.m_strPath;
                    }
                    each.m_nUpdate = update.m_nUpdate;
                    each.m_nAveraged = update.m_nAveraged;
                    each.m_nUnderruns = update.m_outcome.m_session.m_nUnderruns;
                    each.m_nOverruns = update.m_outcome.m_session.m_nOverruns;
                    emit updated(each);
                    return !Cancelling();
                });
            result.m_bCancelled = true; // a continuous measurement ends when it is stopped
            result.m_nUnderruns = session.m_nUnderruns;
            result.m_nOverruns = session.m_nOverruns;
        } catch (const std::exception& error) {
            result.m_strError = error.what();
        }
        return [this, result] { emit finished(result); };
    });
}

void CAnalysisWorker::StartSweep(const CGenerationSettings& settings, const instrument::CSweepSpec& spec,
                                 const std::string& folder, const std::string& output,
                                 const std::string& input) {
    Run([this, settings, spec, folder, output, input]() -> CDelivery {
        CSweepOutcome outcome;
        try {
            CProgress progress(*this);
            const auto stepping = [this](std::size_t step, std::size_t steps) {
                emit progressed(static_cast<qint64>(step), static_cast<qint64>(steps));
            };
            outcome.m_result =
                folder.empty()
                    ? instrument::SweepLive(settings, spec, {output, input, {}}, {}, &progress, stepping)
                    : instrument::SweepFolder(settings, spec, folder, {}, &progress, true, stepping);
        } catch (const platform::CCancelled&) {
            outcome.m_bCancelled = true;
        } catch (const std::exception& error) {
            outcome.m_strError = error.what();
        }
        return [this, outcome] { emit swept(outcome); };
    });
}
