#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "analysis/analysis_report.h"
#include "analysis/analyzer.h"
#include "app/workers/worker_thread.h"
#include "generation/settings.h"
#include "instrument/outcome.h"
#include "instrument/sweep.h"

// Analyses one recording at a time on a thread of its own through the instrument's use cases, as
// vorlanx-analyze does: progress comes back as `progressed`, queued to the GUI thread, and the end as
// `finished` with the result.
class CAnalysisWorker : public CWorkerThread {
    Q_OBJECT
public:
    struct CResult {
        bool m_bCancelled = false;      // nothing else is set then
        std::string m_strPath;          // the recording's path, or what was measured ("live: OUT to IN")
        instrument::COutcome m_outcome; // the report, or why there is none
        std::string m_strError;         // a failure outside the outcome (a device, a read error)
        // A continuous measurement's update: its number, the blocks averaged, the session's counts.
        std::uint64_t m_nUpdate = 0;
        unsigned m_nAveraged = 0;
        std::uint64_t m_nUnderruns = 0;
        std::uint64_t m_nOverruns = 0;
        // The report, or nullptr.
        const analysis::CAnalysisReport* Report() const {
            return m_outcome.m_report ? &*m_outcome.m_report : nullptr;
        }
    };

    explicit CAnalysisWorker(QObject* parent = nullptr);
    ~CAnalysisWorker() override;

    // Starts analysing `path` against the stimulus `settings` describe, over the part and channels
    // `options` choose. Only when no analysis is running.
    void Start(const std::string& path, const CGenerationSettings& settings,
               const analysis::CAnalysisOptions& options = {});
    // Measures live (instrument::MeasureLive) through the output device named `output` and the input
    // device named `input` (names as CAudioSystem lists them). `measuring(true)` comes first,
    // `measuring(false)` when the analysis begins. Only when nothing is running.
    void StartMeasurement(const CGenerationSettings& settings, const std::string& output,
                          const std::string& input);

    // Measures continuously (instrument::MeasureContinuously, updates every second, averaging the
    // newest `average` blocks): each update comes as `updated`, until Cancel; then `finished`
    // (cancelled, or the device's failure). Only when nothing is running.
    void StartContinuous(const CGenerationSettings& settings, const std::string& output,
                         const std::string& input, unsigned average);

    // What a sweep gave: its steps, or why it failed (a device), or that it was cancelled.
    struct CSweepOutcome {
        bool m_bCancelled = false;
        instrument::CSweepResult m_result;
        std::string m_strError;
    };
    // Runs a sweep (instrument::SweepFolder for a `folder`, otherwise SweepLive on the devices);
    // `progressed` counts the steps; `swept` ends it. Only when nothing is running.
    void StartSweep(const CGenerationSettings& settings, const instrument::CSweepSpec& spec,
                    const std::string& folder, const std::string& output, const std::string& input);

signals:
    void progressed(qint64 done, qint64 total);
    void swept(const CAnalysisWorker::CSweepOutcome& outcome);
    void updated(const CAnalysisWorker::CResult& result);
    void measuring(bool recording);
    void finished(const CAnalysisWorker::CResult& result);
};
