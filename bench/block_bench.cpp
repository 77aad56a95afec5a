// The continuous mode's work per update: one block of whole periods (1 s at f0 277 Hz) of the
// generator's stimulus, analysed as a live block is (no onset search, no skip), at 48 and 192 kHz.
// An update must take well under its second on the slowest machine that runs the bench.
#include <benchmark/benchmark.h>

#include "analysis/recording.h"
#include "generation/frame_render.h"
#include "generation/job_plan.h"
#include "instrument/analyse_file.h"

namespace {

void AnalyseOneSecondBlock(benchmark::State& state) {
    CGenerationSettings settings;
    settings.m_nSampleRate = static_cast<std::uint32_t>(state.range(0));
    settings.m_dDuration = 1.0;
    settings.m_eFormat = ESampleFormat::F32;
    const CJobPlan plan = MakeJobPlan(settings);
    const CRenderedFrames frames = RenderFramesInMemory(settings, plan, plan.m_nFrames);
    std::vector<double> samples(2 * frames.Frames());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = frames.Sample(i);
    }
    analysis::CAnalysisOptions options;
    options.m_bFindStimulus = false;
    options.m_dSkipS = 0.0;
    for (auto _ : state) {
        analysis::CMemoryRecording recording("the live block", samples.data(), frames.Frames(), 2,
                                             settings.m_nSampleRate);
        const instrument::COutcome outcome = instrument::AnalyseRecording(settings, recording, options, nullptr, true);
        if (!outcome.m_report) {
            state.SkipWithError(outcome.Message().c_str());
            break;
        }
        benchmark::DoNotOptimize(outcome.m_report->m_dDistortionNoiseDb);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(frames.Frames()));
}

BENCHMARK(AnalyseOneSecondBlock)->Arg(48000)->Arg(192000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
