#include "instrument/measure_continuous.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <deque>
#include <stdexcept>

#include "analysis/analysis_plan.h"
#include "audio/audio_system.h"
#include "generation/job_plan.h"
#include "instrument/analyse_file.h"
#include "platform/number_text.h"

namespace instrument {

namespace {

// A session's progress when the caller gave none: it never cancels.
platform::CProgress s_never;

// Cycles of `hz` in `frames` at `rateHz` lie this close to a whole number: the float rounding of the
// generator's own phases is far below it, a real fraction of a cycle far above.
constexpr double kWholeCycles = 1e-6;
// The common period is looked for up to this long.
constexpr double kLongestPeriodS = 10.0;

bool WholeCycles(double hz, std::uint64_t frames, double rateHz) {
    const double cycles = hz * static_cast<double>(frames) / rateHz;
    return std::fabs(cycles - std::round(cycles)) < kWholeCycles;
}

// The frames in which every frequency of `tonesHz` makes whole cycles: multiples of f0's period
// (tonesHz[0]) tried in turn, up to `longest` frames; 0 when none is found.
std::uint64_t CommonPeriod(const std::vector<double>& tonesHz, double rateHz, std::uint64_t longest) {
    const double f0 = tonesHz.front();
    for (std::uint64_t m = 1;; ++m) {
        const auto frames = static_cast<std::uint64_t>(std::llround(static_cast<double>(m) * rateHz / f0));
        if (frames > longest) {
            return 0;
        }
        if (frames > 0 && std::all_of(tonesHz.begin(), tonesHz.end(),
                                      [&](double hz) { return WholeCycles(hz, frames, rateHz); })) {
            return frames;
        }
    }
}

// Keeps the newest blocks of an average and their sample-by-sample mean.
class CBlockAverage {
public:
    explicit CBlockAverage(unsigned count) : m_nCount(count) {}

    // Adds a block (frames x channels floats) and returns the mean of the newest blocks.
    const std::vector<double>& Add(const float* samples, std::size_t values) {
        if (m_aBlocks.size() == m_nCount) {
            m_aBlocks.pop_front();
        }
        m_aBlocks.emplace_back(samples, samples + values);
        m_aMean.assign(values, 0.0);
        for (const std::vector<float>& block : m_aBlocks) {
            for (std::size_t i = 0; i < values; ++i) {
                m_aMean[i] += block[i];
            }
        }
        const double scale = 1.0 / static_cast<double>(m_aBlocks.size());
        for (double& value : m_aMean) {
            value *= scale;
        }
        return m_aMean;
    }
    unsigned Blocks() const { return static_cast<unsigned>(m_aBlocks.size()); }
    // A block that cannot be measured breaks the average: the next one starts afresh.
    void Clear() { m_aBlocks.clear(); }

private:
    unsigned m_nCount;
    std::deque<std::vector<float>> m_aBlocks;
    std::vector<double> m_aMean;
};

// Averages and analyses each block, and hands the result on.
class CAnalysingSink : public audio::CBlockSink {
public:
    CAnalysingSink(const CContinuousPlan& plan, const analysis::CAnalysisOptions& options,
                   const CContinuousOptions& continuous, const audio::CDeviceInfo& output,
                   const audio::CDeviceInfo& input,
                   const std::function<bool(const CContinuousUpdate&)>& update)
        : m_plan(plan), m_options(options), m_continuous(continuous), m_output(output), m_input(input),
          m_update(update), m_average(continuous.m_nAverage) {
        m_options.m_bFindStimulus = false; // a loop has no start: every block is stimulus
        m_options.m_dSkipS = 0.0;
        m_options.m_dLengthS.reset();
        m_options.m_dFadeInS = m_options.m_dFadeOutS = 0.0;
    }

    bool Block(const float* samples, std::size_t frames, int channels,
               const audio::CSessionReport& session) override {
        const auto started = std::chrono::steady_clock::now();
        CContinuousUpdate result;
        result.m_nUpdate = ++m_nUpdates;
        result.m_dEndS = static_cast<double>(m_nUpdates) * m_plan.m_dBlockS;
        CLiveOutcome& outcome = result.m_outcome;
        outcome.m_session = session;
        outcome.m_strOutputName = m_output.m_strName;
        outcome.m_strInputName = m_input.m_strName;
        outcome.m_strSubject = "the live block";
        if (const auto problem = audio::RecordingProblem(session, m_input)) {
            m_average.Clear();
            outcome.m_eProblem = EProblem::RecordingProblem;
            outcome.m_strReason = *problem;
        } else {
            const std::vector<double>& mean =
                m_average.Add(samples, frames * static_cast<std::size_t>(channels));
            result.m_nAveraged = m_average.Blocks();
            analysis::CMemoryRecording recording("the live block", mean.data(), frames, channels,
                                                 m_plan.m_loop.m_nSampleRate);
            static_cast<COutcome&>(outcome) =
                AnalyseRecording(m_plan.m_loop, recording, m_options, nullptr, true);
            outcome.m_strSubject = "the live block";
            if (outcome.m_report) {
                outcome.m_report->m_strRecording = "measured live";
                for (const std::string& warning : m_plan.m_aWarnings) {
                    outcome.m_report->m_aWarnings.push_back(warning);
                }
                if (session.m_nUnderruns > 0) {
                    outcome.m_report->m_aWarnings.push_back(std::to_string(session.m_nUnderruns) +
                                                            " underrun(s) on '" + m_output.m_strName +
                                                            "' so far: it played silence where the stimulus "
                                                            "was late, which the figures may show.");
                }
            }
            // A refused block (a cable out), or one whose level changes within it (a dropout), must not
            // stay in the average: the next update starts it afresh.
            if (!outcome.m_report || outcome.m_report->m_dLevelVariationDb) {
                m_average.Clear();
            }
        }
        result.m_dAnalysisS =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const bool more = m_update(result);
        return more && (m_continuous.m_nCount == 0 || m_nUpdates < m_continuous.m_nCount);
    }

private:
    const CContinuousPlan& m_plan;
    analysis::CAnalysisOptions m_options;
    CContinuousOptions m_continuous;
    const audio::CDeviceInfo& m_output;
    const audio::CDeviceInfo& m_input;
    const std::function<bool(const CContinuousUpdate&)>& m_update;
    CBlockAverage m_average;
    std::uint64_t m_nUpdates = 0;
};

} // namespace

CContinuousPlan PlanContinuous(const CGenerationSettings& settings, const CContinuousOptions& options) {
    if (!(options.m_dUpdateS > 0.0) || !std::isfinite(options.m_dUpdateS) || options.m_dUpdateS > 3600.0) {
        throw std::invalid_argument("the update period must be above 0 s and at most 3600 s");
    }
    if (options.m_nAverage < 1 || options.m_nAverage > kMaxAverage) {
        throw std::invalid_argument("the average must be of 1 to " + std::to_string(kMaxAverage) + " blocks");
    }
    CContinuousPlan plan;
    plan.m_loop = settings;
    if (settings.m_dFadeInS > 0.0 || settings.m_dFadeOutS > 0.0) {
        plan.m_aWarnings.push_back(
            "The stimulus's fades are left out of the loop: it plays without a break.");
    }
    plan.m_loop.m_dFadeInS = plan.m_loop.m_dFadeOutS = 0.0;
    const CJobPlan job = MakeJobPlan(plan.m_loop);
    if (job.m_strRefusal) {
        throw std::invalid_argument(*job.m_strRefusal);
    }
    if (job.m_nFrames == 0 || job.m_nSampleRate == 0) {
        throw std::invalid_argument("The settings give no frames to play.");
    }
    const double rate = job.m_nSampleRate;
    const analysis::CAnalysisPlan tones = analysis::MakeAnalysisPlan(job, rate);
    std::vector<double> frequencies{tones.m_dFundamentalHz};
    for (const analysis::CStimulusTone& tone : tones.m_aTones) {
        frequencies.push_back(tone.m_dFrequencyHz);
    }
    const auto longest = static_cast<std::uint64_t>(kLongestPeriodS * rate);
    plan.m_nPeriodFrames = frequencies.front() > 0.0 ? CommonPeriod(frequencies, rate, longest) : 0;
    if (plan.m_nPeriodFrames == 0) {
        plan.m_nPeriodFrames = job.m_nFrames;
        plan.m_aWarnings.push_back("The stimulus's tones make no whole number of periods together within " +
                                   platform::FormatGeneral15(kLongestPeriodS) +
                                   " s: the loop's seam is a step in every block that holds it.");
    } else {
        // The loop: as many whole periods as fit the settings' duration, at least one.
        const std::uint64_t periods = std::max<std::uint64_t>(1, job.m_nFrames / plan.m_nPeriodFrames);
        const std::uint64_t frames = periods * plan.m_nPeriodFrames;
        plan.m_loop.m_dDuration = static_cast<double>(frames) / rate;
        if (MakeJobPlan(plan.m_loop).m_nFrames != frames) {
            plan.m_loop.m_dDuration = (static_cast<double>(frames) + 0.5) / rate;
        }
    }
    const auto updateFrames = static_cast<std::uint64_t>(std::ceil(options.m_dUpdateS * rate));
    const std::uint64_t periods =
        std::max<std::uint64_t>(1, (updateFrames + plan.m_nPeriodFrames - 1) / plan.m_nPeriodFrames);
    const std::uint64_t blockFrames = periods * plan.m_nPeriodFrames;
    if (blockFrames > static_cast<std::uint64_t>(600.0 * rate)) {
        throw std::invalid_argument("a block of whole periods would last " +
                                    platform::FormatGeneral15(static_cast<double>(blockFrames) / rate) +
                                    " s: more than the 600 s a block may hold");
    }
    plan.m_nBlockFrames = static_cast<std::size_t>(blockFrames);
    plan.m_dBlockS = static_cast<double>(blockFrames) / rate;
    return plan;
}

audio::CSessionReport MeasureContinuously(const CGenerationSettings& settings, const CLiveDevices& devices,
                                          const analysis::CAnalysisOptions& options,
                                          const CContinuousOptions& continuous, platform::CProgress* progress,
                                          const std::function<bool(const CContinuousUpdate&)>& update) {
    const CContinuousPlan plan = PlanContinuous(settings, continuous);
    const audio::CAudioSystem system;
    const audio::CDeviceInfo& output = system.Find(devices.m_strOutput, audio::EDirection::Output);
    const audio::CDeviceInfo& input = system.Find(devices.m_strInput, audio::EDirection::Input);
    CAnalysingSink sink(plan, options, continuous, output, input, update);
    // The first frames are the round trip's silence and the device's settling: a generous latency
    // (the stream's own figure is often low) plus the skip.
    const double rate = plan.m_loop.m_nSampleRate;
    const auto skip = static_cast<std::uint64_t>(std::ceil((0.5 + std::max(0.0, options.m_dSkipS)) * rate));
    return audio::RecordContinuously(system, output, input, plan.m_loop, skip, plan.m_nBlockFrames, sink,
                                     progress ? *progress : s_never);
}

} // namespace instrument
