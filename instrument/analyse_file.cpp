#include "instrument/analyse_file.h"

#include <memory>

#include "analysis/analysis_plan.h"
#include "analysis/file_recording.h"
#include "generation/job_plan.h"

namespace instrument {

COutcome AnalyseRecording(const CGenerationSettings& settings, analysis::CRecording& recording,
                          const analysis::CAnalysisOptions& options, platform::CProgress* progress) {
    CGenerationSettings stimulus = settings;
    stimulus.m_dDuration = 0.0; // the stimulus's length plays no part in its lines
    const analysis::CAnalysisPlan plan =
        analysis::MakeAnalysisPlan(MakeJobPlan(stimulus), recording.SampleRate());
    COutcome outcome;
    outcome.m_strSubject = recording.Name();
    outcome.m_nChannels = recording.Channels();
    analysis::CAnalysisReport report = analysis::AnalyzeRecording(plan, recording, options, progress);
    if (report.m_strRefusal) {
        outcome.m_eProblem = EProblem::Refused;
        outcome.m_eRefusal = report.m_eRefusal;
        outcome.m_strReason = *report.m_strRefusal;
    } else {
        outcome.m_report = std::move(report);
    }
    return outcome;
}

COutcome AnalyseFile(const CGenerationSettings& settings, const std::string& path,
                     const analysis::CAnalysisOptions& options, platform::CProgress* progress) {
    std::string error;
    const std::unique_ptr<analysis::CFileRecording> recording = analysis::CFileRecording::Open(path, error);
    if (!recording) {
        COutcome outcome;
        outcome.m_eProblem = EProblem::Unreadable;
        outcome.m_strSubject = path;
        outcome.m_strReason = error;
        return outcome;
    }
    COutcome outcome = AnalyseRecording(settings, *recording, options, progress);
    outcome.m_strSubject = path;
    return outcome;
}

} // namespace instrument
