#pragma once
// Helpers for the analysis tests: analysing a file or samples against settings.
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "analysis/analysis_plan.h"
#include "analysis/analyzer.h"
#include "analysis/file_recording.h"
#include "generation/job_plan.h"
#include "generation/settings.h"

namespace test {

inline analysis::CAnalysisReport AnalyzeRecording(analysis::CRecording& recording,
                                                  CGenerationSettings settings = {},
                                                  const analysis::CAnalysisOptions& options = {}) {
    settings.m_dDuration = 0.0;
    const analysis::CAnalysisPlan plan =
        analysis::MakeAnalysisPlan(MakeJobPlan(settings), recording.SampleRate());
    return analysis::AnalyzeRecording(plan, recording, options);
}

inline analysis::CAnalysisReport AnalyzeFile(const std::filesystem::path& path,
                                             const CGenerationSettings& settings = {},
                                             const analysis::CAnalysisOptions& options = {}) {
    std::string error;
    const auto recording = analysis::CFileRecording::Open(path.string(), error);
    if (!recording) {
        ADD_FAILURE() << path << ": " << error;
        return {};
    }
    return AnalyzeRecording(*recording, settings, options);
}

// True when some warning of `report` contains `phrase`.
inline bool Warns(const analysis::CAnalysisReport& report, const std::string& phrase) {
    for (const std::string& warning : report.m_aWarnings) {
        if (warning.find(phrase) != std::string::npos) {
            return true;
        }
    }
    return false;
}

} // namespace test
