#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "analysis/analysis_report.h"
#include "app/worker_thread.h"
#include "generation/settings.h"

// Analyses one recording at a time on a thread of its own, with the analysis core exactly as
// vorlanx-analyze does: progress comes back as `progressed`, queued to the GUI thread; after
// `finished`, TakeResult() holds the report, or the one message saying why the recording could not
// be analysed (naming it). A cancelled analysis leaves no result.
class CAnalysisWorker : public CWorkerThread {
    Q_OBJECT
public:
    struct CResult {
        std::string m_strPath; // the recording's path, or what was measured ("live: OUT to IN")
        std::optional<analysis::CAnalysisReport> m_report; // absent: m_strError says why
        std::string m_strError;
    };

    explicit CAnalysisWorker(QObject* parent = nullptr);
    ~CAnalysisWorker() override;

    // Starts analysing `path` against the stimulus `settings` describe (its defaults for the rest:
    // the skip, the whole length, channels 1 and 2). Only when no analysis is running.
    void Start(const std::string& path, const CGenerationSettings& settings);
    // Plays the stimulus on the output device named `output` and records the input device named
    // `input` (names as CAudioSystem lists them), then analyses the recording as vorlanx-analyze
    // --measure does, from the latency to the stimulus's end; the recording is removed afterwards.
    // `measuring(true)` comes first, `measuring(false)` when the analysis begins; a silent or clipping
    // input and a device that fails give the result's message. Only when nothing is running.
    void StartMeasurement(const CGenerationSettings& settings, const std::string& output,
                          const std::string& input);
    // The last analysis's result, once: after `finished`; nullopt when it was cancelled.
    std::optional<CResult> TakeResult();

signals:
    void progressed(qint64 done, qint64 total);
    void measuring(bool recording);

private:
    std::mutex m_resultMutex; // the analysis's thread writes the result, the GUI thread takes it
    std::optional<CResult> m_result;
};
