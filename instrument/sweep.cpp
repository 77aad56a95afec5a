#include "instrument/sweep.h"

#include <algorithm>
#include <cmath>
#include <dirent.h>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "analysis/report_formats.h"
#include "instrument/analyse_file.h"
#include "instrument/continuous_formats.h"
#include "platform/number_text.h"

namespace instrument {

namespace {

// The step value a file's name gives: its stem after the last '_' (all of it without one), less a
// trailing "dB" or "Hz", as a number.
std::optional<double> NamedValue(std::string name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        return std::nullopt;
    }
    name.erase(dot);
    if (const std::size_t underscore = name.rfind('_'); underscore != std::string::npos) {
        name.erase(0, underscore + 1);
    }
    for (const char* unit : {"dB", "db", "Hz", "hz"}) {
        if (name.size() > 2 && name.compare(name.size() - 2, 2, unit) == 0) {
            name.erase(name.size() - 2);
            break;
        }
    }
    return platform::ParseDouble(name);
}

bool SameValue(double a, double b) {
    return std::fabs(a - b) <= 1e-9 * std::max(1.0, std::fabs(b));
}

std::vector<std::string> SortedNames(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        throw std::invalid_argument(folder +
                                    ": the folder of recordings cannot be listed: " + std::strerror(errno));
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

std::optional<double> SweepFigure(const analysis::CAnalysisReport& report, const std::string& figure,
                                  std::optional<double> gainAtHz) {
    if (figure == "distortion_noise_db") {
        return report.m_dDistortionNoiseDb;
    }
    if (figure == "even_order_db") {
        return report.m_dEvenOrderDb;
    }
    if (figure == "odd_order_db") {
        return report.m_dOddOrderDb;
    }
    if (figure == "gain_db") {
        const analysis::CToneResult* tone = ChosenTone(report, gainAtHz);
        return tone ? std::optional<double>(tone->m_dGainDb) : std::nullopt;
    }
    return std::nullopt;
}

void SummariseSweep(CSweepResult& result) {
    result.m_dBestLevelDb.reset();
    result.m_dLimitLevelDb.reset();
    result.m_aMerged.clear();
    if (result.m_spec.m_eKind == ESweepKind::Level) {
        std::optional<double> best;
        for (const CSweepStep& step : result.m_aSteps) {
            const auto dn =
                step.m_outcome.m_report ? step.m_outcome.m_report->m_dDistortionNoiseDb : std::nullopt;
            if (!dn || !std::isfinite(*dn)) {
                continue;
            }
            if (!best || *dn < *best) {
                best = *dn;
                result.m_dBestLevelDb = step.m_dValue;
            }
            if (*dn > result.m_dLimitDb &&
                (!result.m_dLimitLevelDb || step.m_dValue < *result.m_dLimitLevelDb)) {
                result.m_dLimitLevelDb = step.m_dValue;
            }
        }
        return;
    }
    for (const CSweepStep& step : result.m_aSteps) {
        if (!step.m_outcome.m_report) {
            continue;
        }
        for (const analysis::CToneResult& tone : step.m_outcome.m_report->m_aTones) {
            const CMergedPoint point{tone.m_dFrequencyHz, tone.m_dGainDb, tone.m_dPhaseDeg,
                                     tone.m_dGainUncertaintyDb, step.m_dValue};
            const auto same =
                std::find_if(result.m_aMerged.begin(), result.m_aMerged.end(), [&](const CMergedPoint& p) {
                    return std::fabs(p.m_dFrequencyHz - point.m_dFrequencyHz) <= 1e-6 * point.m_dFrequencyHz;
                });
            if (same == result.m_aMerged.end()) {
                result.m_aMerged.push_back(point);
            } else if (point.m_dGainUncertaintyDb.value_or(std::numeric_limits<double>::infinity()) <
                       same->m_dGainUncertaintyDb.value_or(std::numeric_limits<double>::infinity())) {
                *same = point;
            }
        }
    }
    std::sort(
        result.m_aMerged.begin(), result.m_aMerged.end(),
        [](const CMergedPoint& a, const CMergedPoint& b) { return a.m_dFrequencyHz < b.m_dFrequencyHz; });
}

namespace {

// The sweep's steps in order, each measured by `measure` (its value, its settings), then summarised.
template <class Measure>
CSweepResult EachStep(const CGenerationSettings& settings, const CSweepSpec& spec,
                      const CStepProgress& stepping, Measure measure) {
    CSweepResult result;
    result.m_spec = spec;
    for (std::size_t i = 0; i < spec.m_aValues.size(); ++i) {
        if (stepping) {
            stepping(i, spec.m_aValues.size());
        }
        CSweepStep step;
        step.m_dValue = spec.m_aValues[i];
        measure(step, StepSettings(settings, spec.m_eKind, step.m_dValue), result);
        result.m_aSteps.push_back(std::move(step));
    }
    SummariseSweep(result);
    return result;
}

} // namespace

CSweepResult SweepFolder(const CGenerationSettings& settings, const CSweepSpec& spec,
                         const std::string& folder, const analysis::CAnalysisOptions& options,
                         platform::CProgress* progress, bool rateGiven, const CStepProgress& stepping) {
    const std::vector<std::string> names = SortedNames(folder);
    return EachStep(
        settings, spec, stepping, [&](CSweepStep& step, const CGenerationSettings& each, CSweepResult&) {
            const auto named = std::find_if(names.begin(), names.end(), [&](const std::string& name) {
                const auto value = NamedValue(name);
                return value && SameValue(*value, step.m_dValue);
            });
            if (named == names.end()) {
                step.m_strSource = folder;
                step.m_outcome.m_eProblem = EProblem::Unreadable;
                step.m_outcome.m_strSubject = folder;
                step.m_outcome.m_strReason = "no recording for the step " + StepText(step.m_dValue) +
                                             " (a file named like step_" + StepText(step.m_dValue) + ".wav)";
                return;
            }
            step.m_strSource = (folder.empty() || folder.back() == '/' ? folder : folder + "/") + *named;
            step.m_outcome = AnalyseFile(each, step.m_strSource, options, progress, rateGiven);
        });
}

CSweepResult SweepLive(const CGenerationSettings& settings, const CSweepSpec& spec,
                       const CLiveDevices& devices, const analysis::CAnalysisOptions& options,
                       platform::CProgress* progress, const CStepProgress& stepping) {
    CLiveDevices kept = devices;
    kept.m_strSaveRecording.clear(); // a temporary recording per step
    return EachStep(settings, spec, stepping,
                    [&](CSweepStep& step, const CGenerationSettings& each, CSweepResult& result) {
                        step.m_strSource = "measured live";
                        CLiveOutcome outcome = MeasureLive(each, kept, options, progress);
                        if (result.m_strDevices.empty()) {
                            result.m_strDevices =
                                "output " + outcome.m_strOutputName + ", input " + outcome.m_strInputName;
                        }
                        step.m_outcome = std::move(outcome);
                    });
}

CVerdict JudgeSweep(const CSweepResult& result, const CLimits& limits) {
    CVerdict verdict;
    for (const CSweepBound& bound : limits.m_aSweepBounds) {
        CJudgement judged;
        judged.m_strName = "sweep." + bound.m_strFigure;
        const std::string range =
            bound.m_dMin && bound.m_dMax
                ? platform::FormatGeneral15(*bound.m_dMin) + " to " + platform::FormatGeneral15(*bound.m_dMax)
            : bound.m_dMin ? ">= " + platform::FormatGeneral15(*bound.m_dMin)
                           : "<= " + platform::FormatGeneral15(*bound.m_dMax);
        judged.m_strLimit = range + " from " +
                            (bound.m_dFrom ? StepText(*bound.m_dFrom) : std::string("the first step")) +
                            " to " + (bound.m_dTo ? StepText(*bound.m_dTo) : std::string("the last"));
        judged.m_dMargin = std::numeric_limits<double>::infinity();
        judged.m_dValue = std::numeric_limits<double>::quiet_NaN();
        bool any = false;
        for (const CSweepStep& step : result.m_aSteps) {
            if ((bound.m_dFrom && step.m_dValue < *bound.m_dFrom - 1e-9) ||
                (bound.m_dTo && step.m_dValue > *bound.m_dTo + 1e-9)) {
                continue;
            }
            any = true;
            const auto value = step.m_outcome.m_report ? SweepFigure(*step.m_outcome.m_report,
                                                                     bound.m_strFigure, result.m_dGainAtHz)
                                                       : std::nullopt;
            double margin = -std::numeric_limits<double>::infinity(); // a step not measured fails
            if (value && std::isfinite(*value)) {
                margin = std::numeric_limits<double>::infinity();
                if (bound.m_dMin) {
                    margin = std::min(margin, *value - *bound.m_dMin);
                }
                if (bound.m_dMax) {
                    margin = std::min(margin, *bound.m_dMax - *value);
                }
            }
            if (margin < judged.m_dMargin) {
                judged.m_dMargin = margin;
                judged.m_dValue = value.value_or(std::numeric_limits<double>::quiet_NaN());
                judged.m_dWorstStep = step.m_dValue;
            }
        }
        judged.m_bPass = any && judged.m_dMargin >= 0.0;
        verdict.m_bPass = verdict.m_bPass && judged.m_bPass;
        verdict.m_aLimits.push_back(judged);
    }
    return verdict;
}

} // namespace instrument
