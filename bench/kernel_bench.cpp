// Frames per second of the default mother bank (37 harmonics and the reference tone) for each
// kernel this CPU runs: the scalar standard-library sine against the SIMD kernels.
#include <benchmark/benchmark.h>
#include <vector>

#include "generation/job_sources.h"
#include "generation/render/sine_kernels.h"

namespace {

using namespace render;

void RenderDefaultBank(benchmark::State& state, const CSineKernel* kernel) {
    CJobSources sources;
    PrepareSources(CGenerationSettings{}, sources);
    std::vector<double> increments, amplitudes;
    for (const CSine& sine : sources.m_bank.m_aSines) {
        increments.push_back(sine.m_dPhaseIncrement);
        amplitudes.push_back(sine.m_dAmplitude);
    }
    increments.push_back(sources.m_reference.m_dPhaseIncrement);
    const std::size_t width = kernel->m_nWidth;
    std::vector<double> phases(increments.size() * width, 0.0);
    for (std::size_t o = 0; o < increments.size(); ++o) {
        for (std::size_t lane = 0; lane < width; ++lane) {
            phases[o * width + lane] = 0.001 * static_cast<double>(lane * (o + 1)); // distinct lanes
        }
    }
    CLaneOutputs out(width);
    CLaneBlock block;
    block.m_pIncrements = increments.data();
    block.m_pAmplitudes = amplitudes.data();
    block.m_nHarmonics = amplitudes.size();
    block.m_pStartPhases = phases.data();
    block.m_nFrames = kLaneFrames;
    block.m_nValidFrames = kLaneFrames * width;
    block.m_dLeftMargin = 1e-6;
    block.m_dRightMargin = 1e-6;
    out.AttachTo(block);
    for (auto _ : state) {
        kernel->m_pRender(block);
        benchmark::DoNotOptimize(out.m_aSamples.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kLaneFrames * width));
    state.SetLabel(std::to_string(amplitudes.size()) + " harmonics + reference");
}

void AdvanceDefaultPhases(benchmark::State& state, const CSineKernel* kernel) {
    std::vector<double> increments(40, 0.1), phases(40, 0.0); // 38 oscillators padded to 40
    const std::vector<double> thresholds(40, WrapThreshold(0.1));
    for (auto _ : state) {
        kernel->m_pAdvance(phases.data(), increments.data(), thresholds.data(), phases.size(), kLaneFrames);
        benchmark::DoNotOptimize(phases.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kLaneFrames));
}

const bool kRegistered = [] {
    for (const CSineKernel* kernel : AvailableKernels()) {
        benchmark::RegisterBenchmark((std::string("MotherBank/") + kernel->m_szName).c_str(),
                                     RenderDefaultBank, kernel);
        benchmark::RegisterBenchmark((std::string("PhaseStepping/") + kernel->m_szName).c_str(),
                                     AdvanceDefaultPhases, kernel);
    }
    return true;
}();

} // namespace

BENCHMARK_MAIN();
