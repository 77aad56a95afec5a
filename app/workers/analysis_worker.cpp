#include "app/workers/analysis_worker.h"

#include "instrument/analyse_file.h"
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
            result.m_outcome = instrument::MeasureLive(settings, {output, input, {}}, {}, &progress,
                                                       [this] { emit measuring(false); });
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
