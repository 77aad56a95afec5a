#include "instrument/limits.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>
#define TOML_EXCEPTIONS 1
#include <toml++/toml.h>

#include "analysis/report_formats.h"
#include "platform/markup_text.h"
#include "platform/number_text.h"

namespace instrument {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The report's single figures by their JSON keys, each with whether it is noise-limited.
struct CFigure {
    const char* m_szKey;
    std::function<std::optional<double>(const analysis::CAnalysisReport&)> m_value;
    std::function<bool(const analysis::CAnalysisReport&)> m_noiseLimited;
};

// The reference's level in `unit`, where the report has a full scale and a reference.
std::optional<double> Physical(const analysis::CAnalysisReport& report, analysis::CFullScale::EUnit unit) {
    if (!report.m_fullScale || !report.m_reference.m_bPresent) {
        return std::nullopt;
    }
    analysis::CFullScale scale = *report.m_fullScale;
    scale.m_eUnit = unit;
    return scale.From(report.m_reference.m_dLevelDbfs);
}

const std::vector<CFigure>& Figures() {
    using R = analysis::CAnalysisReport;
    const auto never = [](const R&) { return false; };
    const auto reference = [](auto pick) {
        return [pick](const R& r) {
            return r.m_reference.m_bPresent ? std::optional<double>(pick(r)) : std::nullopt;
        };
    };
    static const std::vector<CFigure> figures = {
        {"fundamental_hz", [](const R& r) { return r.m_dFundamentalHz; }, never},
        {"clock_offset_ppm", [](const R& r) { return r.m_dClockOffsetPpm; }, never},
        {"delay_ms", [](const R& r) { return r.m_dDelayMs; }, never},
        {"distortion_noise_db", [](const R& r) { return r.m_dDistortionNoiseDb; },
         [](const R& r) { return r.m_bDistortionNoiseNoiseLimited; }},
        {"even_order_db", [](const R& r) { return r.m_dEvenOrderDb; },
         [](const R& r) { return r.m_bEvenOrderNoiseLimited; }},
        {"odd_order_db", [](const R& r) { return r.m_dOddOrderDb; },
         [](const R& r) { return r.m_bOddOrderNoiseLimited; }},
        {"noise_floor_dbfs", [](const R& r) { return r.m_dNoiseFloorDbfs; }, never},
        {"reference.level_dbfs", reference([](const R& r) { return r.m_reference.m_dLevelDbfs; }), never},
        {"reference.thd_db", reference([](const R& r) { return r.m_reference.m_dThdDb; }), never},
        {"reference.thd_n_db", reference([](const R& r) { return r.m_reference.m_dThdNoiseDb; }), never},
        // The reference's level in the converter's units, where --full-scale gave them.
        {"reference.level_dbu", [](const R& r) { return Physical(r, analysis::CFullScale::EUnit::Dbu); },
         never},
        {"reference.level_dbv", [](const R& r) { return Physical(r, analysis::CFullScale::EUnit::Dbv); },
         never},
        {"reference.level_v", [](const R& r) { return Physical(r, analysis::CFullScale::EUnit::Volt); },
         never},
        {"spur_level_dbfs",
         [](const R& r) {
             return r.m_aSpurs.empty() ? std::optional<double>(-std::numeric_limits<double>::infinity())
                                       : std::optional<double>(r.m_aSpurs.front().m_dLevelDbfs);
         },
         never},
    };
    return figures;
}

const CFigure* FindFigure(const std::string& key) {
    for (const CFigure& figure : Figures()) {
        if (key == figure.m_szKey) {
            return &figure;
        }
    }
    return nullptr;
}

std::string Number(double value) {
    return platform::FormatGeneral15(value);
}

int LineOf(const toml::node& node) {
    return static_cast<int>(node.source().begin.line);
}

// A curve of (Hz, value) points: ascending frequencies above 0 Hz, two or more.
std::optional<std::string> ReadCurve(const toml::node* node, const char* which,
                                     std::vector<std::pair<double, double>>& curve) {
    if (node == nullptr) {
        return std::nullopt;
    }
    const toml::array* points = node->as_array();
    if (points == nullptr) {
        return "line " + std::to_string(LineOf(*node)) + ": " + which +
               " must be a list of [Hz, value] points";
    }
    for (const toml::node& each : *points) {
        const toml::array* point = each.as_array();
        const auto hz = point && point->size() == 2 ? (*point)[0].value<double>() : std::nullopt;
        const auto value = point && point->size() == 2 ? (*point)[1].value<double>() : std::nullopt;
        if (!hz || !value || !(*hz > 0.0) || !std::isfinite(*value)) {
            return "line " + std::to_string(LineOf(each)) + ": each point of " + which +
                   " must be [Hz above 0, value]";
        }
        if (!curve.empty() && !(*hz > curve.back().first)) {
            return "line " + std::to_string(LineOf(each)) + ": the points of " + which +
                   " are out of order: " + Number(*hz) + " Hz does not follow " + Number(curve.back().first) +
                   " Hz";
        }
        curve.emplace_back(*hz, *value);
    }
    if (curve.size() < 2) {
        return "line " + std::to_string(LineOf(*node)) + ": " + which + " needs two points or more";
    }
    return std::nullopt;
}

// The curve's value at `hz`, linear in the logarithm of frequency; nullopt outside its points.
std::optional<double> CurveAt(const std::vector<std::pair<double, double>>& curve, double hz) {
    if (curve.empty() || hz < curve.front().first || hz > curve.back().first) {
        return std::nullopt;
    }
    for (std::size_t i = 1; i < curve.size(); ++i) {
        if (hz <= curve[i].first) {
            const double t =
                std::log(hz / curve[i - 1].first) / std::log(curve[i].first / curve[i - 1].first);
            return curve[i - 1].second + t * (curve[i].second - curve[i - 1].second);
        }
    }
    return curve.back().second;
}

double ToneFigure(const analysis::CToneResult& tone, const std::string& figure) {
    if (figure == "gain_db") {
        return tone.m_dGainDb;
    }
    if (figure == "phase_deg") {
        return tone.m_dPhaseDeg;
    }
    return tone.m_dGroupDelayMs.value_or(kNaN);
}

} // namespace

namespace {

// The [sweep] table: level = { start, stop, step } or fundamental = [F1, F2, ...], limit_db = DB, and
// bounds such as distortion_noise_db = { max = -90.0, from = -40.0, to = -6.0 }.
std::optional<std::string> ReadSweepTable(const toml::node& node, CLimits& limits) {
    const toml::table* table = node.as_table();
    if (table == nullptr) {
        return "line " + std::to_string(LineOf(node)) + ": sweep must be a [sweep] table";
    }
    for (const auto& [key, value] : *table) {
        const std::string where = "line " + std::to_string(LineOf(value)) + ": ";
        const std::string name(key.str());
        if (name == "level") {
            const toml::table* steps = value.as_table();
            const auto start = steps ? (*steps)["start"].value<double>() : std::nullopt;
            const auto stop = steps ? (*steps)["stop"].value<double>() : std::nullopt;
            const auto step = steps ? (*steps)["step"].value<double>() : std::nullopt;
            std::string error;
            const auto values =
                start && stop && step ? LevelSteps(*start, *stop, *step, error) : std::nullopt;
            if (!values) {
                return where + "level must be a table such as { start = -40.0, stop = 0.0, step = 2.0 }" +
                       (error.empty() ? std::string() : ": " + error);
            }
            limits.m_sweep = CSweepSpec{ESweepKind::Level, *values};
        } else if (name == "fundamental") {
            const toml::array* list = value.as_array();
            CSweepSpec spec{ESweepKind::Fundamental, {}};
            for (std::size_t i = 0; list != nullptr && i < list->size(); ++i) {
                const auto hz = (*list)[i].value<double>();
                if (!hz || !(*hz > 0.0) || !std::isfinite(*hz)) {
                    list = nullptr;
                } else {
                    spec.m_aValues.push_back(*hz);
                }
            }
            if (list == nullptr || spec.m_aValues.size() < 2 || spec.m_aValues.size() > kMaxSweepSteps) {
                return where +
                       "fundamental must be a list of two or more frequencies in Hz, such as [20.0, 277.0]";
            }
            limits.m_sweep = spec;
        } else if (name == "limit_db") {
            const auto db = value.value<double>();
            if (!db || !std::isfinite(*db)) {
                return where + "limit_db must be a number of dB";
            }
            limits.m_dSweepLimitDb = *db;
        } else if (name == "distortion_noise_db" || name == "even_order_db" || name == "odd_order_db" ||
                   name == "gain_db") {
            const toml::table* range = value.as_table();
            CSweepBound bound{name, std::nullopt, std::nullopt, std::nullopt, std::nullopt, LineOf(value)};
            bool readable = range != nullptr;
            for (const auto& [side, number] : range != nullptr ? *range : toml::table()) {
                const auto figure = number.value<double>();
                const std::string field(side.str());
                std::optional<double>* slot = field == "min"    ? &bound.m_dMin
                                              : field == "max"  ? &bound.m_dMax
                                              : field == "from" ? &bound.m_dFrom
                                              : field == "to"   ? &bound.m_dTo
                                                                : nullptr;
                if (slot == nullptr || !figure || !std::isfinite(*figure)) {
                    readable = false;
                    break;
                }
                *slot = *figure;
            }
            if (!readable || (!bound.m_dMin && !bound.m_dMax)) {
                return where + name + " must be a table such as { max = -90.0, from = -40.0, to = -6.0 }";
            }
            limits.m_aSweepBounds.push_back(bound);
        } else {
            return where + "a [sweep] table has no '" + name + "'";
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<CLimits> ParseLimits(const std::string& text, const std::string& name, std::string& error) {
    toml::table table;
    try {
        table = toml::parse(text, name);
    } catch (const toml::parse_error& parse) {
        error = "line " + std::to_string(parse.source().begin.line) + ": " + std::string(parse.description());
        return std::nullopt;
    }
    CLimits limits;
    // One figure's bound, from { min = ..., max = ... }.
    const auto bound = [&](const std::string& key, const toml::node& node) -> std::optional<std::string> {
        const std::string where = "line " + std::to_string(LineOf(node)) + ": ";
        if (FindFigure(key) == nullptr) {
            return where + "no figure is named '" + key + "'";
        }
        const toml::table* range = node.as_table();
        if (range == nullptr) {
            return where + key + " must be a table such as { max = -80.0 }";
        }
        CFigureLimit limit{key, std::nullopt, std::nullopt, LineOf(node)};
        for (const auto& [side, value] : *range) {
            const auto number = value.value<double>();
            if ((side != "min" && side != "max") || !number || !std::isfinite(*number)) {
                return "line " + std::to_string(LineOf(value)) + ": " + key +
                       " takes min and max, as numbers";
            }
            (side == "min" ? limit.m_dMin : limit.m_dMax) = *number;
        }
        if (!limit.m_dMin && !limit.m_dMax) {
            return where + key + " needs min or max";
        }
        limits.m_aFigures.push_back(limit);
        return std::nullopt;
    };
    for (const auto& [key, node] : table) {
        std::optional<std::string> problem;
        if (key == "mask") {
            const toml::array* masks = node.as_array();
            if (masks == nullptr) {
                problem = "line " + std::to_string(LineOf(node)) + ": mask must be a [[mask]] table";
            }
            for (std::size_t i = 0; masks != nullptr && i < masks->size() && !problem; ++i) {
                const toml::table* each = (*masks)[i].as_table();
                CMask mask;
                mask.m_nLine = LineOf((*masks)[i]);
                const auto figure = each ? (*each)["figure"].value<std::string>() : std::nullopt;
                if (!figure ||
                    (*figure != "gain_db" && *figure != "phase_deg" && *figure != "group_delay_ms")) {
                    problem = "line " + std::to_string(mask.m_nLine) +
                              ": a mask's figure must be \"gain_db\", \"phase_deg\" or \"group_delay_ms\"";
                    break;
                }
                mask.m_strFigure = *figure;
                for (const auto& [field, value] : *each) {
                    if (field != "figure" && field != "upper" && field != "lower" &&
                        field != "relative_to_hz") {
                        problem = "line " + std::to_string(LineOf(value)) + ": a mask has no '" +
                                  std::string(field.str()) + "'";
                    }
                }
                if (!problem) {
                    problem = ReadCurve(each->get("upper"), "upper", mask.m_aUpper);
                }
                if (!problem) {
                    problem = ReadCurve(each->get("lower"), "lower", mask.m_aLower);
                }
                if (!problem && mask.m_aUpper.empty() && mask.m_aLower.empty()) {
                    problem = "line " + std::to_string(mask.m_nLine) + ": a mask needs upper or lower";
                }
                if (const toml::node* relative = each->get("relative_to_hz");
                    !problem && relative != nullptr) {
                    const auto hz = relative->value<double>();
                    if (!hz || !(*hz > 0.0)) {
                        problem = "line " + std::to_string(LineOf(*relative)) +
                                  ": relative_to_hz must be above 0 Hz";
                    } else {
                        mask.m_dRelativeToHz = *hz;
                    }
                }
                limits.m_aMasks.push_back(mask);
            }
        } else if (key == "sweep") {
            problem = ReadSweepTable(node, limits);
        } else if (const toml::table* group = node.as_table(); group != nullptr && key == "reference") {
            for (const auto& [inner, value] : *group) { // [reference] thd_n_db = { ... }
                if (!problem) {
                    problem = bound(std::string(key.str()) + "." + std::string(inner.str()), value);
                }
            }
        } else {
            problem = bound(std::string(key.str()), node);
        }
        if (problem) {
            error = *problem;
            return std::nullopt;
        }
    }
    if (limits.m_aFigures.empty() && limits.m_aMasks.empty() && limits.m_aSweepBounds.empty() &&
        !limits.m_sweep && !limits.m_dSweepLimitDb) { // a verdict of nothing would pass anything
        error = "line 1: it holds no limits";
        return std::nullopt;
    }
    return limits;
}

namespace {

// The tones ascending in frequency, with the figure a mask bounds; tones without it left out.
std::vector<std::pair<double, double>> ToneCurve(const analysis::CAnalysisReport& report,
                                                 const std::string& figure) {
    std::vector<std::pair<double, double>> points;
    for (const analysis::CToneResult& tone : report.m_aTones) {
        const double value = ToneFigure(tone, figure);
        if (std::isfinite(value)) {
            points.emplace_back(tone.m_dFrequencyHz, value);
        }
    }
    std::sort(points.begin(), points.end());
    return points;
}

} // namespace

std::optional<double> MaskOffset(const analysis::CAnalysisReport& report, const CMask& mask) {
    if (!mask.m_dRelativeToHz) {
        return 0.0;
    }
    const std::vector<std::pair<double, double>> points = ToneCurve(report, mask.m_strFigure);
    return points.size() >= 2 ? CurveAt(points, *mask.m_dRelativeToHz) : std::nullopt;
}

std::optional<double> MaskCurveAt(const std::vector<std::pair<double, double>>& curve, double hz) {
    return CurveAt(curve, hz);
}

CVerdict Judge(const analysis::CAnalysisReport& report, const CLimits& limits) {
    CVerdict verdict;
    for (const CFigureLimit& limit : limits.m_aFigures) {
        const CFigure& figure = *FindFigure(limit.m_strFigure);
        const std::optional<double> value = figure.m_value(report);
        CJudgement judged;
        judged.m_strName = limit.m_strFigure;
        judged.m_dValue = value.value_or(kNaN);
        judged.m_strLimit = limit.m_dMin && limit.m_dMax
                                ? Number(*limit.m_dMin) + " to " + Number(*limit.m_dMax)
                            : limit.m_dMin ? ">= " + Number(*limit.m_dMin)
                                           : "<= " + Number(*limit.m_dMax);
        double margin = std::numeric_limits<double>::infinity();
        if (limit.m_dMin) {
            margin = std::min(margin, judged.m_dValue - *limit.m_dMin);
        }
        if (limit.m_dMax) {
            margin = std::min(margin, *limit.m_dMax - judged.m_dValue);
        }
        judged.m_dMargin = value ? margin : kNaN;
        judged.m_bPass = value && margin >= 0.0;
        judged.m_bNoiseLimited = figure.m_noiseLimited(report);
        verdict.m_bPass &= judged.m_bPass;
        verdict.m_aLimits.push_back(judged);
    }
    for (const CMask& mask : limits.m_aMasks) {
        const std::vector<std::pair<double, double>> points = ToneCurve(report, mask.m_strFigure);
        const std::optional<double> at = MaskOffset(report, mask);
        const bool judgeable = !points.empty() && at.has_value();
        const double offset = at.value_or(0.0);
        CJudgement judged;
        judged.m_strName =
            "mask " + mask.m_strFigure +
            (mask.m_dRelativeToHz ? " relative to " + Number(*mask.m_dRelativeToHz) + " Hz" : std::string());
        judged.m_strLimit = "mask of line " + std::to_string(mask.m_nLine);
        judged.m_dMargin = std::numeric_limits<double>::infinity();
        judged.m_dValue = kNaN;
        bool any = false;
        for (const auto& [hz, raw] : points) {
            const double value = raw - offset;
            for (const auto* curve : {&mask.m_aUpper, &mask.m_aLower}) {
                const std::optional<double> bound = CurveAt(*curve, hz);
                if (!bound) {
                    continue;
                }
                any = true;
                const double margin = curve == &mask.m_aUpper ? *bound - value : value - *bound;
                if (margin < judged.m_dMargin) {
                    judged.m_dMargin = margin;
                    judged.m_dValue = value;
                    judged.m_dWorstHz = hz;
                }
            }
        }
        judged.m_bPass = judgeable && any && judged.m_dMargin >= 0.0;
        if (!judgeable || !any) {
            judged.m_dMargin = kNaN; // nothing the mask covers was measured
        }
        verdict.m_bPass &= judged.m_bPass;
        verdict.m_aLimits.push_back(judged);
    }
    return verdict;
}

std::string VerdictJson(const CVerdict& verdict) {
    const auto number = [](double value) {
        return std::isfinite(value) ? nlohmann::json(value) : nlohmann::json(nullptr);
    };
    nlohmann::json limits = nlohmann::json::array();
    for (const CJudgement& each : verdict.m_aLimits) {
        limits.push_back(
            {{"name", each.m_strName},
             {"value", number(each.m_dValue)},
             {"limit", each.m_strLimit},
             {"margin", number(each.m_dMargin)},
             {"pass", each.m_bPass},
             {"worst_frequency_hz", each.m_dWorstHz ? number(*each.m_dWorstHz) : nlohmann::json(nullptr)},
             {"worst_step", each.m_dWorstStep ? number(*each.m_dWorstStep) : nlohmann::json(nullptr)},
             {"noise_limited", each.m_bNoiseLimited}});
    }
    return nlohmann::json{{"pass", verdict.m_bPass}, {"limits", limits}}.dump(2);
}

std::string MakeLimits(const std::vector<analysis::CAnalysisReport>& golden, double k) {
    if (golden.size() < 2) {
        throw std::invalid_argument("limits from known-good units need two or more of them");
    }
    const auto spread = [&](const std::function<double(const analysis::CAnalysisReport&)>& figure) {
        double mean = 0.0, square = 0.0;
        for (const auto& report : golden) {
            mean += figure(report) / static_cast<double>(golden.size());
        }
        for (const auto& report : golden) {
            square += std::pow(figure(report) - mean, 2.0) / static_cast<double>(golden.size() - 1);
        }
        return std::pair{mean, std::sqrt(square)};
    };
    const auto& tones = golden.front().m_aTones;
    for (const auto& report : golden) {
        if (report.m_aTones.size() != tones.size()) {
            throw std::invalid_argument("the known-good recordings do not hold the same tones");
        }
    }
    std::string text = "# Limits from " + std::to_string(golden.size()) + " known-good units: mean +- " +
                       Number(k) + " standard deviations.\n";
    const std::pair<const char*, std::function<double(const analysis::CAnalysisReport&)>> figures[] = {
        {"distortion_noise_db", [](const auto& r) { return r.m_dDistortionNoiseDb.value_or(kNaN); }},
        {"even_order_db", [](const auto& r) { return r.m_dEvenOrderDb.value_or(kNaN); }},
        {"odd_order_db", [](const auto& r) { return r.m_dOddOrderDb.value_or(kNaN); }},
    };
    for (const auto& [name, figure] : figures) {
        const auto [mean, sigma] = spread(figure);
        if (std::isfinite(mean)) {
            text += std::string(name) +
                    " = { max = " + platform::FormatDecimals(mean + std::max(k * sigma, 1.0), 3) + " }\n";
        }
    }
    std::vector<std::size_t> order(tones.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return tones[a].m_dFrequencyHz < tones[b].m_dFrequencyHz;
    });
    std::string upper, lower;
    for (const std::size_t i : order) {
        const auto [mean, sigma] = spread([i](const auto& r) { return r.m_aTones[i].m_dGainDb; });
        const double width = std::max(k * sigma, 0.05);
        const std::string hz = platform::FormatDecimals(tones[i].m_dFrequencyHz, 3);
        upper += std::string(upper.empty() ? "" : ", ") + "[" + hz + ", " +
                 platform::FormatDecimals(mean + width, 4) + "]";
        lower += std::string(lower.empty() ? "" : ", ") + "[" + hz + ", " +
                 platform::FormatDecimals(mean - width, 4) + "]";
    }
    text += "\n[[mask]]\nfigure = \"gain_db\"\nupper = [" + upper + "]\nlower = [" + lower + "]\n";
    return text;
}

std::string ReportJsonWithVerdict(const analysis::CAnalysisReport& report, const CVerdict& verdict) {
    nlohmann::json object = nlohmann::json::parse(analysis::ReportJson(report));
    object["verdict"] = nlohmann::json::parse(VerdictJson(verdict));
    return object.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string VerdictText(const CVerdict& verdict) {
    std::string text = std::string("Verdict:            ") + (verdict.m_bPass ? "PASS" : "FAIL") + "\n";
    for (const CJudgement& each : verdict.m_aLimits) {
        text += "  " + std::string(each.m_bPass ? "pass  " : "FAIL  ") + each.m_strName + ": " +
                (std::isfinite(each.m_dValue) ? platform::FormatDecimals(each.m_dValue, 3)
                                              : std::string("not measured")) +
                " against " + each.m_strLimit +
                (std::isfinite(each.m_dMargin) ? ", margin " + platform::FormatFigure(each.m_dMargin, 3, true)
                                               : std::string()) +
                (each.m_dWorstHz ? " at " + platform::FormatDecimals(*each.m_dWorstHz, 1) + " Hz"
                                 : std::string()) +
                (each.m_dWorstStep ? " at step " + StepText(*each.m_dWorstStep) : std::string()) +
                (each.m_bNoiseLimited ? " (noise-limited)" : "") + "\n";
    }
    return text;
}

std::string VerdictJunit(const CVerdict& verdict, const std::string& recording) {
    std::size_t failures = 0;
    std::string cases;
    for (const CJudgement& each : verdict.m_aLimits) {
        cases += "    <testcase name=\"" + platform::MarkupEscaped(each.m_strName) + "\" classname=\"" +
                 platform::MarkupEscaped(recording) + "\" time=\"0\"";
        if (each.m_bPass) {
            cases += "/>\n";
            continue;
        }
        ++failures;
        const std::string message =
            (std::isfinite(each.m_dValue) ? Number(each.m_dValue) : std::string("not measured")) +
            " against " + each.m_strLimit +
            (std::isfinite(each.m_dMargin) ? ": margin " + Number(each.m_dMargin) : std::string()) +
            (each.m_dWorstHz ? " at " + Number(*each.m_dWorstHz) + " Hz" : std::string()) +
            (each.m_dWorstStep ? " at step " + StepText(*each.m_dWorstStep) : std::string());
        cases +=
            ">\n      <failure message=\"" + platform::MarkupEscaped(message) + "\"/>\n    </testcase>\n";
    }
    const std::string counts = "tests=\"" + std::to_string(verdict.m_aLimits.size()) + "\" failures=\"" +
                               std::to_string(failures) + "\"";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites " + counts +
           ">\n  <testsuite name=\"vorlanx-analyze\" " + counts + ">\n" + cases +
           "  </testsuite>\n</testsuites>\n";
}

} // namespace instrument
