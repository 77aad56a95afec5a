// libFuzzer target: arbitrary bytes through the recording reader, the whole analysis and the report
// writers (text, JSON, CSV). Reading
// may refuse the bytes or fail part-way (a typed exception); anything else that escapes, and any
// crash, hang or sanitizer report, is a fault.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "analysis/analysis_plan.h"
#include "analysis/analyzer.h"
#include "analysis/file_recording.h"
#include "analysis/report_formats.h"
#include "generation/job_plan.h"
#include "platform/sound_file_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    const auto recording =
        analysis::CFileRecording::OpenMemory(std::vector<unsigned char>(data, data + size), "input", error);
    if (!recording) {
        return 0;
    }
    CGenerationSettings settings;
    settings.m_dDuration = 0.0;
    const analysis::CAnalysisPlan plan =
        analysis::MakeAnalysisPlan(MakeJobPlan(settings), recording->SampleRate());
    try {
        // The report writers too: whatever the analysis made of the bytes must be writable.
        const analysis::CAnalysisReport report = analysis::AnalyzeRecording(plan, *recording, {});
        (void)analysis::ReportText(report);
        (void)analysis::ReportJson(report);
        (void)analysis::ReportCsv(report);
    } catch (const platform::CReadException&) {
        // The bytes end before their header says: a refusal, not a fault.
    }
    return 0;
}
