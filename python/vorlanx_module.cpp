// The `vorlanx` Python module: the generator's plan, frames and job and the analyser, called
// directly. A thin shell: every number comes from the core, every report from its JSON.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "analysis/file_recording.h"
#include "analysis/report_formats.h"
#include "audio/audio_error.h"
#include "audio/audio_session.h"
#include "audio/audio_system.h"
#include "generation/frame_render.h"
#include "generation/generate_job.h"
#include "generation/job_plan.h"
#include "generation/plan_report.h"
#include "generation/settings_fields.h"
#include "instrument/analyse_file.h"
#include "instrument/continuous_formats.h"
#include "instrument/html_report.h"
#include "instrument/limits.h"
#include "instrument/measure_live.h"
#include "instrument/sweep.h"
#include "platform/number_text.h"
#include "platform/output_file.h"
#include "platform/sound_file_reader.h"
#include "python/array_recording.h"
#include "python/continuous_run.h"
#include "python/python_feedback.h"
#include "python/settings_keywords.h"

namespace py = pybind11;

namespace {

// Thrown through the engine when Python asked to stop; the call then rethrows Python's exception.
struct CStopped {};

py::object FromJson(const std::string& text) {
    return py::module_::import("json").attr("loads")(text);
}

[[noreturn]] void RaiseOsError(int error, const std::string& message, const py::object& path) {
    // OSError(errno, text, filename) picks the subclass (FileNotFoundError, PermissionError, ...).
    const py::object exception = py::module_::import("builtins").attr("OSError")(error, message, path);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr())), exception.ptr());
    throw py::error_already_set();
}

// A path as Python's own open() takes one: str, bytes or os.PathLike, as the system's bytes
// (os.fsencode: a str's surrogates give back the bytes of a name that is not UTF-8); a NUL in it is a
// ValueError before any work. `shown` gets the name as Python spells it, for messages and results.
std::string PathArgument(const py::object& argument, const char* name, py::object& shown) {
    if (!(py::isinstance<py::str>(argument) || py::isinstance<py::bytes>(argument) ||
          py::hasattr(argument, "__fspath__"))) {
        throw py::type_error(std::string(name) + " expects a str, bytes or os.PathLike, not " +
                             std::string(py::str(argument.get_type().attr("__name__"))));
    }
    const py::module_ os = py::module_::import("os");
    shown = os.attr("fspath")(argument);
    const std::string path = py::bytes(os.attr("fsencode")(argument));
    if (path.find('\0') != std::string::npos) {
        throw py::value_error(std::string(name) + " holds a NUL byte");
    }
    return path;
}

// A real number (Python's or numpy's) as a double; TypeError for anything else.
double RealArgument(const py::object& value, const char* name) {
    if (py::isinstance<py::bool_>(value) || py::isinstance<py::str>(value) || PyComplex_Check(value.ptr()) ||
        !py::isinstance(value, py::module_::import("numbers").attr("Real"))) {
        throw py::type_error(std::string(name) + " expects a number, not " +
                             std::string(py::str(value.get_type().attr("__name__"))));
    }
    return py::float_(value).cast<double>();
}

// The name in a message: the system's bytes, with what is not UTF-8 shown as Python's repr shows it.
std::string Shown(const py::object& path) {
    return py::isinstance<py::str>(path)
               ? std::string(py::str(path).attr("encode")("utf-8", "backslashreplace").cast<py::bytes>())
               : std::string(py::repr(path));
}

[[noreturn]] void RaiseKeyboardInterrupt() {
    PyErr_SetNone(PyExc_KeyboardInterrupt);
    throw py::error_already_set();
}

// The job's feedback in Python: its message kept for the exception, progress and Ctrl-C.
class CJobWatch : public CGenerationFeedback {
public:
    explicit CJobWatch(CPythonWatch& watch) : m_watch(watch) {}
    void BeginWait() override {}
    void EndWait() override {}
    void ShowMessage(const std::string& text, unsigned) override { m_strMessage = text; }
    void ShowDetailedMessage(const std::string& text, unsigned, const std::string& detail) override {
        m_strMessage = text + " " + detail;
    }
    void ReportProgress(std::uint64_t done, std::uint64_t total) override {
        m_watch.Progress(total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1.0);
    }
    bool CancelRequested() override { return m_watch.Cancelled(); }
    std::string m_strMessage;

private:
    CPythonWatch& m_watch;
};

CJobPlan PlanOrRaise(const CGenerationSettings& settings) {
    CJobPlan plan = MakeJobPlan(settings);
    if (plan.m_strRefusal) {
        throw py::value_error(*plan.m_strRefusal);
    }
    return plan;
}

py::dict Plan(const CGenerationSettings& settings) {
    const CJobPlan plan = MakeJobPlan(settings);
    std::optional<double> peak;
    if (!plan.m_strRefusal) {
        CPythonWatch watch;
        CJobWatch feedback(watch);
        try {
            const py::gil_scoped_release unlocked;
            peak = WholeFilePeak(settings, plan, {}, &feedback);
        } catch (const CRenderCancelled&) {
            watch.Rethrow();
            RaiseKeyboardInterrupt();
        }
    }
    return FromJson(PlanJson(plan, peak));
}

// Copies each round of frames into a buffer, and stops when Python asks.
class CBufferSink : public render::CFrameSink {
public:
    CBufferSink(unsigned char* buffer, std::size_t frameBytes, CPythonWatch& watch)
        : m_pAt(buffer), m_nFrameBytes(frameBytes), m_watch(watch) {}
    void Consume(const unsigned char* bytes, std::size_t frameCount) override {
        std::memcpy(m_pAt, bytes, frameCount * m_nFrameBytes);
        m_pAt += frameCount * m_nFrameBytes;
        if (m_watch.Cancelled()) {
            throw CStopped{};
        }
    }

private:
    unsigned char* m_pAt;
    std::size_t m_nFrameBytes;
    CPythonWatch& m_watch;
};

py::array Render(const CGenerationSettings& settings, std::int64_t start, const py::object& framesArgument) {
    const CJobPlan plan = PlanOrRaise(settings);
    if (start < 0) {
        throw py::value_error("start must be 0 or more, not " + std::to_string(start));
    }
    const std::uint64_t first = std::min<std::uint64_t>(static_cast<std::uint64_t>(start), plan.m_nFrames);
    std::uint64_t frames = plan.m_nFrames - first;
    if (!framesArgument.is_none()) {
        if (!py::isinstance<py::int_>(framesArgument) || py::isinstance<py::bool_>(framesArgument)) {
            throw py::type_error("frames expects an int or None");
        }
        const auto wanted = framesArgument.cast<py::int_>();
        if (wanted < py::int_(0)) {
            throw py::value_error("frames must be 0 or more, not " + std::string(py::str(framesArgument)));
        }
        // Like a slice, no further than the file's end.
        if (wanted < py::int_(frames)) {
            frames = wanted.cast<std::uint64_t>();
        }
    }
    const std::size_t frameBytes = BytesPerFrame(plan.m_eFormat);
    auto bytes = std::make_unique<std::vector<unsigned char>>(static_cast<std::size_t>(frames) * frameBytes);
    CPythonWatch watch;
    CPythonProgress reaching(watch); // Ctrl-C while the oscillators step to `start`
    try {
        const py::gil_scoped_release unlocked;
        CBufferSink sink(bytes->data(), frameBytes, watch);
        RenderFileFramesFrom(settings, plan, first, frames, sink, {}, &reaching);
    } catch (const CStopped&) {
        watch.Rethrow();
        RaiseKeyboardInterrupt();
    } catch (const CRenderCancelled&) {
        watch.Rethrow();
        RaiseKeyboardInterrupt();
    }
    const auto count = static_cast<py::ssize_t>(frames);
    if (plan.m_eFormat == ESampleFormat::S24) {
        // numpy has no 24-bit integer: the same values in int32, sign-extended.
        auto values = std::make_unique<std::vector<std::int32_t>>(static_cast<std::size_t>(frames) * 2);
        for (std::size_t i = 0; i < values->size(); ++i) {
            const unsigned char* at = bytes->data() + 3 * i;
            (*values)[i] = static_cast<std::int32_t>(
                               static_cast<std::uint32_t>(at[0] | at[1] << 8 | at[2] << 16) << 8) >>
                           8;
        }
        auto* owner = values.release();
        const py::capsule free(owner, [](void* p) { delete static_cast<std::vector<std::int32_t>*>(p); });
        return py::array_t<std::int32_t>({count, py::ssize_t{2}}, owner->data(), free);
    }
    // The rendered bytes themselves become the array's memory: no copy.
    auto* owner = bytes.release();
    const py::capsule free(owner, [](void* p) { delete static_cast<std::vector<unsigned char>*>(p); });
    if (plan.m_eFormat == ESampleFormat::F32) {
        return py::array_t<float>({count, py::ssize_t{2}}, reinterpret_cast<const float*>(owner->data()),
                                  free);
    }
    return py::array_t<std::int16_t>({count, py::ssize_t{2}},
                                     reinterpret_cast<const std::int16_t*>(owner->data()), free);
}

py::dict Write(const py::object& pathArgument, CGenerationSettings settings, const py::object& progress) {
    py::object shown;
    const std::string path = PathArgument(pathArgument, "path", shown);
    if (!progress.is_none() && !PyCallable_Check(progress.ptr())) {
        throw py::type_error("progress expects a callable taking the fraction done, or None");
    }
    settings.m_strFileName = path;
    CPythonWatch watch(progress);
    CJobWatch feedback(watch);
    CJobOutcome outcome;
    bool written = false;
    {
        const py::gil_scoped_release unlocked;
        written = GenerateTestFile(settings, feedback, {}, &outcome);
    }
    using E = CJobOutcome::EEnd;
    if (!written) {
        switch (outcome.m_eEnd) {
        case E::Cancelled:
            watch.Rethrow();
            RaiseKeyboardInterrupt();
        case E::OpenFailed:
        case E::WriteFailed:
        case E::ReaderGone:
            RaiseOsError(outcome.m_nError != 0 ? outcome.m_nError : EIO, feedback.m_strMessage, shown);
        case E::Refused:
            if (outcome.m_nError != 0) {
                RaiseOsError(outcome.m_nError, feedback.m_strMessage, shown);
            }
            throw py::value_error(feedback.m_strMessage);
        case E::Written:
            break;
        }
    }
    watch.Rethrow(); // an error in `progress` after the last frame
    py::dict result;
    result["path"] = shown;
    result["frames"] = outcome.m_nFrames;
    result["bytes"] = outcome.m_nBytes;
    result["peak"] = outcome.m_dPeak;
    result["clipping_warning"] =
        feedback.m_strMessage.empty() ? py::object(py::none()) : py::str(feedback.m_strMessage);
    return result;
}

// The part and channels of a recording to analyse, from the keywords; ValueError when out of range.
analysis::CAnalysisOptions AnalysisOptions(double skip, std::optional<double> length, std::optional<int> left,
                                           std::optional<int> right) {
    analysis::CAnalysisOptions options;
    if (!(skip >= 0.0 && std::isfinite(skip))) {
        throw py::value_error("skip must be 0 or more seconds, not " + platform::FormatGeneral15(skip));
    }
    if (length && !(*length > 0.0 && std::isfinite(*length))) {
        throw py::value_error("length must be above 0 seconds, not " + platform::FormatGeneral15(*length));
    }
    if (left && *left < 1) {
        throw py::value_error("left must be a channel number from 1, not " + std::to_string(*left));
    }
    if (right && *right < 0) {
        throw py::value_error("right must be a channel number from 1, or 0 for none, not " +
                              std::to_string(*right));
    }
    options.m_dSkipS = skip;
    options.m_dLengthS = length;
    options.m_nLeftChannel = left.value_or(0);
    options.m_nRightChannel = right ? (*right == 0 ? -1 : *right) : 0;
    return options;
}

// What report() needs beyond the result's keys: the report itself (with the spectrum), the verdict
// and limits, and how it was made. Shared, never changed: a copy of a result shares it. Pickled, it
// becomes empty (the spectrum does not travel), and report() says so.
struct CKeptMeasurement {
    std::optional<analysis::CAnalysisReport> m_report;
    std::optional<instrument::CVerdict> m_verdict;
    std::optional<instrument::CLimits> m_limits;
    instrument::CReportContext m_context; // its MD5 is taken when a report asks for it
    std::string m_strRecording;           // the file analysed, for that MD5; empty for an array
};

// The type analyze() and measure() return: a dict with the report's keys, which also keeps the
// measurement for report(). Made at import as a subclass of dict, so json.dumps and == work as before;
// held for the process's life (never released after the interpreter has gone).
py::object* g_pResultType = nullptr;

py::object KeepWithResult(const py::dict& keys, CKeptMeasurement kept) {
    py::object result = (*g_pResultType)(keys);
    result.attr("_measurement") = std::make_shared<CKeptMeasurement>(std::move(kept));
    return result;
}

// The outcome as Python returns it: the report's JSON, or ValueError with this module's advice.
py::dict ReportOrRaise(const instrument::COutcome& outcome) {
    if (!outcome.m_report) {
        std::string message = outcome.Message();
        if (outcome.m_eRefusal == analysis::ERefusal::ChannelsToChoose) {
            message += " with left=N and right=N";
        } else if (outcome.m_eRefusal == analysis::ERefusal::Swapped) {
            message += ": left=2, right=1 measures them the other way round";
        }
        throw py::value_error(message);
    }
    return FromJson(analysis::ReportJson(*outcome.m_report));
}

// Runs `analyse` (a use case) with the GIL released and Ctrl-C watched; its outcome.
template <class Analyse> instrument::COutcome AnalyseWithoutTheLock(Analyse analyse) {
    CPythonWatch watch;
    CPythonProgress progress(watch);
    instrument::COutcome outcome;
    try {
        const py::gil_scoped_release unlocked;
        outcome = analyse(progress);
    } catch (const platform::CCancelled&) {
        watch.Rethrow();
        RaiseKeyboardInterrupt();
    } catch (const platform::CReadException& error) {
        throw py::value_error(error.what());
    }
    return outcome;
}

// A TOML value written from Python's: numbers, lists of them and of lists, strings, tables inline.
std::string TomlValue(const py::handle& value) {
    if (py::isinstance<py::bool_>(value)) {
        return value.cast<bool>() ? "true" : "false";
    }
    if (py::isinstance<py::str>(value)) {
        return py::str(py::module_::import("json").attr("dumps")(value)); // a TOML basic string too
    }
    if (py::isinstance<py::dict>(value)) {
        std::string text = "{ ";
        for (const auto& [key, inner] : value.cast<py::dict>()) {
            text += (text.size() > 2 ? ", " : "") + std::string(py::str(key)) + " = " + TomlValue(inner);
        }
        return text + " }";
    }
    if (py::isinstance<py::list>(value) || py::isinstance<py::tuple>(value)) {
        std::string text = "[";
        for (const py::handle& inner : value) {
            text += (text.size() > 1 ? ", " : "") + TomlValue(inner);
        }
        return text + "]";
    }
    return std::string(
        py::repr(py::float_(RealArgument(py::reinterpret_borrow<py::object>(value), "a limit"))));
}

// The limits `analyze()` was given: a path to a limits file, or a dict of the same shape (figures to
// {"min", "max"} dicts, "reference" to a dict of those, "mask" to a list of mask dicts); written as
// the file's TOML so that one parser reads both. ValueError for limits that do not parse.
instrument::CLimits LimitsArgument(const py::object& argument) {
    std::string text, name = "limits";
    if (py::isinstance<py::dict>(argument)) {
        for (const auto& [key, value] : argument.cast<py::dict>()) {
            const std::string field = py::str(key);
            if (field == "mask") {
                for (const py::handle& mask : value) {
                    text += "[[mask]]\n";
                    for (const auto& [inner, part] : mask.cast<py::dict>()) {
                        text += std::string(py::str(inner)) + " = " + TomlValue(part) + "\n";
                    }
                }
            } else if (field == "reference") {
                text += "[reference]\n";
                for (const auto& [inner, part] : value.cast<py::dict>()) {
                    text += std::string(py::str(inner)) + " = " + TomlValue(part) + "\n";
                }
            } else {
                text = field + " = " + TomlValue(value) + "\n" + text; // before any table
            }
        }
    } else {
        py::object shown;
        const std::string path = PathArgument(argument, "limits", shown);
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            RaiseOsError(errno, std::strerror(errno), shown);
        }
        std::stringstream read;
        read << in.rdbuf();
        text = read.str();
        name = Shown(shown);
    }
    std::string error;
    std::optional<instrument::CLimits> limits = instrument::ParseLimits(text, name, error);
    if (!limits) {
        throw py::value_error(name + ": " + error);
    }
    return *limits;
}

py::object Analyze(const py::object& recordingArgument, const CGenerationSettings& settings,
                   const py::object& sampleRate, std::optional<double> fullScale, double skip,
                   std::optional<double> length, std::optional<int> left, std::optional<int> right,
                   const py::object& limitsArgument) {
    const analysis::CAnalysisOptions options = AnalysisOptions(skip, length, left, right);
    std::optional<instrument::CLimits> limits;
    if (!limitsArgument.is_none()) {
        limits = LimitsArgument(limitsArgument);
    }
    // With limits, the verdict joins the report's keys.
    std::string checksummed; // the file whose MD5 a report gives
    const auto judged = [&](py::dict report, const instrument::COutcome& outcome) {
        CKeptMeasurement kept;
        kept.m_report = outcome.m_report;
        kept.m_limits = limits;
        if (limits && outcome.m_report) {
            kept.m_verdict = instrument::Judge(*outcome.m_report, *limits);
            report["verdict"] = FromJson(instrument::VerdictJson(*kept.m_verdict));
        }
        kept.m_context = instrument::MakeReportContext(settings, "", "", "vorlanx " VORLANX_VERSION);
        kept.m_strRecording = checksummed;
        return KeepWithResult(report, std::move(kept));
    };
    std::unique_ptr<analysis::CRecording> recording;
    // The stimulus's rate is the recording's unless the settings name another than the default.
    const bool isPath = py::isinstance<py::str>(recordingArgument) ||
                        py::isinstance<py::bytes>(recordingArgument) ||
                        py::hasattr(recordingArgument, "__fspath__");
    const bool rateGiven = settings.m_nSampleRate != CGenerationSettings().m_nSampleRate;
    if (isPath) {
        py::object shown;
        const std::string path = PathArgument(recordingArgument, "recording", shown);
        checksummed = path;
        if (fullScale) {
            throw py::value_error("full_scale goes with an array; a file says its own");
        }
        // Looked at without opening it: a FIFO's open would wait for a writer, holding the GIL.
        struct stat status {};
        if (::stat(path.c_str(), &status) != 0 || ::access(path.c_str(), R_OK) != 0) {
            const int error = errno;
            RaiseOsError(error, std::strerror(error), shown);
        }
        if (S_ISDIR(status.st_mode)) {
            RaiseOsError(EISDIR, std::strerror(EISDIR), shown);
        }
        if (!S_ISREG(status.st_mode)) { // a stream: read whole by the use case, without the GIL
            const instrument::COutcome outcome = AnalyseWithoutTheLock([&](platform::CProgress& progress) {
                return instrument::AnalyseFile(settings, path, options, &progress, rateGiven);
            });
            return judged(ReportOrRaise(outcome), outcome);
        }
        std::string error;
        auto file = analysis::CFileRecording::Open(path, error);
        if (!file) {
            throw py::value_error(Shown(shown) + ": " + error);
        }
        if (!sampleRate.is_none() && RealArgument(sampleRate, "sample_rate") != file->SampleRate()) {
            throw py::value_error(Shown(shown) + " is at " +
                                  std::to_string(static_cast<long>(file->SampleRate())) +
                                  " Hz; leave sample_rate out for a file");
        }
        recording = std::move(file);
    } else if (py::isinstance<py::array>(recordingArgument)) {
        if (sampleRate.is_none()) {
            throw py::value_error("an array needs its sample_rate");
        }
        const double rate = RealArgument(sampleRate, "sample_rate");
        if (!(rate > 0.0 && rate <= 1e7)) {
            throw py::value_error("sample_rate must be above 0 Hz, not " + std::string(py::str(sampleRate)));
        }
        recording = std::make_unique<CArrayRecording>(recordingArgument.cast<py::array>(), rate, fullScale);
    } else {
        throw py::type_error("recording expects a path or a numpy array, not " +
                             std::string(py::str(recordingArgument.get_type().attr("__name__"))));
    }
    const instrument::COutcome outcome = AnalyseWithoutTheLock([&](platform::CProgress& progress) {
        return instrument::AnalyseRecording(settings, *recording, options, &progress, rateGiven);
    });
    return judged(ReportOrRaise(outcome), outcome);
}

// A device's failure as Python's RuntimeError, a file's as OSError; a cancel as KeyboardInterrupt.
template <class Work> auto RunOnDevices(CPythonWatch& watch, Work work) {
    try {
        const py::gil_scoped_release unlocked;
        return work();
    } catch (const platform::CCancelled&) {
        watch.Rethrow();
        RaiseKeyboardInterrupt();
    } catch (const audio::CAudioError& error) {
        throw std::runtime_error(error.what());
    } catch (const platform::CFileException& error) {
        RaiseOsError(error.Error() != 0 ? error.Error() : EIO, error.what(), py::none());
    }
}

// The iterator measure(continuous=True) returns: each next() is the newest update's result, as
// vorlanx-analyze --continuous --json gives it; close(), the end of a for loop (break included), a
// with block's end, Ctrl-C and the object's end all stop the measurement and release the devices.
class CContinuousIterator {
public:
    CContinuousIterator(const CGenerationSettings& settings, const instrument::CLiveDevices& devices,
                        const analysis::CAnalysisOptions& options,
                        const instrument::CContinuousOptions& continuous)
        : m_settings(settings),
          m_run(std::make_unique<CContinuousRun>(settings, devices, options, continuous)) {}
    ~CContinuousIterator() { Close(); }

    py::object Next() {
        if (!m_run) {
            throw py::stop_iteration();
        }
        instrument::CContinuousUpdate update;
        for (;;) {
            CContinuousRun::EWait wait;
            {
                const py::gil_scoped_release unlocked;
                wait = m_run->Next(update, std::chrono::milliseconds(50));
            }
            if (wait == CContinuousRun::EWait::Update) {
                break;
            }
            if (wait == CContinuousRun::EWait::Finished) {
                try {
                    m_run->RethrowIfFailed();
                } catch (const audio::CAudioError& error) {
                    Close();
                    throw std::runtime_error(error.what());
                } catch (const std::invalid_argument& error) {
                    Close();
                    throw py::value_error(error.what());
                }
                Close();
                throw py::stop_iteration();
            }
            if (PyErr_CheckSignals() != 0) {
                Close();
                throw py::error_already_set();
            }
        }
        const instrument::CLiveOutcome& outcome = update.m_outcome;
        py::dict keys = FromJson(instrument::ContinuousJson(update, m_run->BlockS(), nullptr));
        CKeptMeasurement kept;
        kept.m_report = outcome.m_report;
        kept.m_context = instrument::MakeReportContext(
            m_settings, "", "output " + outcome.m_strOutputName + ", input " + outcome.m_strInputName,
            "vorlanx " VORLANX_VERSION);
        return KeepWithResult(keys, std::move(kept));
    }

    void Close() {
        if (m_run) {
            const py::gil_scoped_release unlocked; // the devices take a moment to stop
            m_run.reset();
        }
    }

private:
    CGenerationSettings m_settings;
    std::unique_ptr<CContinuousRun> m_run;
};

py::object Measure(const CGenerationSettings& settings, const std::string& output, const std::string& input,
                   const std::string& saveRecording, double skip, std::optional<double> length,
                   const py::object& progressArgument, bool continuous, double update, unsigned average,
                   std::optional<std::uint64_t> count) {
    if (!progressArgument.is_none() && !PyCallable_Check(progressArgument.ptr())) {
        throw py::type_error("progress expects a callable taking the fraction done, or None");
    }
    const analysis::CAnalysisOptions options = AnalysisOptions(skip, length, std::nullopt, std::nullopt);
    if (const auto problem = CheckSettingsRanges(settings)) {
        throw py::value_error(*problem);
    }
    if (continuous) {
        if (!saveRecording.empty() || !progressArgument.is_none() || length) {
            throw py::value_error(
                "continuous=True keeps no recording and analyses whole blocks: save_recording, "
                "progress and length do not go with it");
        }
        if (count && *count == 0) {
            throw py::value_error("count expects 1 or more updates, or None for no end");
        }
        instrument::CContinuousOptions run;
        run.m_dUpdateS = update;
        run.m_nAverage = average;
        run.m_nCount = count.value_or(0);
        try {
            return py::cast(std::make_unique<CContinuousIterator>(
                settings, instrument::CLiveDevices{output, input, ""}, options, run));
        } catch (const std::invalid_argument& error) {
            throw py::value_error(error.what());
        }
    }
    CPythonWatch watch(progressArgument);
    CPythonProgress progress(watch);
    const instrument::CLiveOutcome outcome = RunOnDevices(watch, [&] {
        return instrument::MeasureLive(settings, {output, input, saveRecording}, options, &progress);
    });
    watch.Rethrow();
    if (outcome.m_eProblem == instrument::EProblem::RecordingProblem ||
        outcome.m_eProblem == instrument::EProblem::TooShort) {
        throw std::runtime_error(outcome.Message());
    }
    py::dict result = ReportOrRaise(outcome);
    result["underruns"] = outcome.m_session.m_nUnderruns;
    result["overruns"] = outcome.m_session.m_nOverruns;
    result["output_device"] = outcome.m_strOutputName;
    result["input_device"] = outcome.m_strInputName;
    CKeptMeasurement kept;
    kept.m_report = outcome.m_report;
    kept.m_context = instrument::MakeReportContext(
        settings, "", "output " + outcome.m_strOutputName + ", input " + outcome.m_strInputName,
        "vorlanx " VORLANX_VERSION);
    kept.m_context.m_strSession =
        instrument::SessionText(outcome.m_session.m_nUnderruns, outcome.m_session.m_nOverruns);
    kept.m_strRecording = saveRecording;
    return KeepWithResult(result, std::move(kept));
}

// A sweep as Python returns it: the table as numpy arrays (NaN where a step has no figure), the
// level figures or the merged response, and each step's Result (None for a step not measured, whose
// reason is in "problems").
py::object SweepResult(const instrument::CSweepResult& result, const CGenerationSettings& settings) {
    py::dict out;
    out["kind"] = instrument::SweepKindName(result.m_spec.m_eKind);
    const std::size_t count = result.m_aSteps.size();
    const auto column =
        [&](const std::function<std::optional<double>(const analysis::CAnalysisReport&)>& figure) {
            py::array_t<double> values(static_cast<py::ssize_t>(count));
            auto at = values.mutable_unchecked<1>();
            for (std::size_t i = 0; i < count; ++i) {
                const auto& report = result.m_aSteps[i].m_outcome.m_report;
                const auto value = report ? figure(*report) : std::nullopt;
                at(static_cast<py::ssize_t>(i)) =
                    value && std::isfinite(*value) ? *value : std::numeric_limits<double>::quiet_NaN();
            }
            return values;
        };
    py::array_t<double> steps(static_cast<py::ssize_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        steps.mutable_at(static_cast<py::ssize_t>(i)) = result.m_aSteps[i].m_dValue;
    }
    out["step_value"] = steps;
    for (const char* figure : {"distortion_noise_db", "even_order_db", "odd_order_db", "gain_db"}) {
        out[figure] = column([&](const analysis::CAnalysisReport& report) {
            return instrument::SweepFigure(report, figure, result.m_dGainAtHz);
        });
    }
    out["noise_floor_dbfs"] =
        column([](const analysis::CAnalysisReport& report) { return report.m_dNoiseFloorDbfs; });
    py::list results, problems;
    for (const instrument::CSweepStep& step : result.m_aSteps) {
        if (!step.m_outcome.m_report) {
            results.append(py::none());
            problems.append(step.m_outcome.Message());
            continue;
        }
        CKeptMeasurement kept;
        kept.m_report = step.m_outcome.m_report;
        kept.m_context = instrument::MakeReportContext(
            instrument::StepSettings(settings, result.m_spec.m_eKind, step.m_dValue), "", result.m_strDevices,
            "vorlanx " VORLANX_VERSION);
        kept.m_strRecording = step.m_strSource == "measured live" ? "" : step.m_strSource;
        results.append(
            KeepWithResult(FromJson(analysis::ReportJson(*step.m_outcome.m_report)), std::move(kept)));
        problems.append(py::none());
    }
    out["steps"] = results;
    out["problems"] = problems;
    if (result.m_spec.m_eKind == instrument::ESweepKind::Level) {
        const auto optional = [](const std::optional<double>& value) {
            return value ? py::cast(*value) : py::none();
        };
        out["limit_db"] = result.m_dLimitDb;
        out["best_level_db"] = optional(result.m_dBestLevelDb);
        out["limit_level_db"] = optional(result.m_dLimitLevelDb);
    } else {
        const std::size_t points = result.m_aMerged.size();
        py::array_t<double> hz(static_cast<py::ssize_t>(points)), gain(static_cast<py::ssize_t>(points)),
            phase(static_cast<py::ssize_t>(points)), from(static_cast<py::ssize_t>(points));
        for (std::size_t i = 0; i < points; ++i) {
            const auto j = static_cast<py::ssize_t>(i);
            hz.mutable_at(j) = result.m_aMerged[i].m_dFrequencyHz;
            gain.mutable_at(j) = result.m_aMerged[i].m_dGainDb;
            phase.mutable_at(j) = result.m_aMerged[i].m_dPhaseDeg;
            from.mutable_at(j) = result.m_aMerged[i].m_dFromFundamentalHz;
        }
        py::dict merged;
        merged["frequency_hz"] = hz;
        merged["gain_db"] = gain;
        merged["phase_deg"] = phase;
        merged["from_fundamental_hz"] = from;
        out["merged_response"] = merged;
    }
    return out;
}

py::object Sweep(const CGenerationSettings& settings, const py::object& level, const py::object& fundamental,
                 const py::object& folderArgument, const std::string& output, const std::string& input,
                 double skip, std::optional<double> length, std::optional<double> gainAt, double limitDb) {
    if (level.is_none() == fundamental.is_none()) {
        throw py::value_error(
            "sweep takes either level=(start, stop, step) in dB or fundamental=[f1, f2, ...] in Hz");
    }
    if (const auto problem = CheckSettingsRanges(settings)) {
        throw py::value_error(*problem);
    }
    if (!std::isfinite(limitDb)) {
        throw py::value_error("limit_db expects a number of dB");
    }
    instrument::CSweepSpec spec;
    std::string error;
    if (!level.is_none()) {
        const auto parts = level.cast<std::vector<double>>();
        if (parts.size() != 3) {
            throw py::value_error("level expects (start, stop, step) in dB");
        }
        const auto values = instrument::LevelSteps(parts[0], parts[1], parts[2], error);
        if (!values) {
            throw py::value_error(error);
        }
        spec.m_aValues = *values;
    } else {
        spec.m_eKind = instrument::ESweepKind::Fundamental;
        spec.m_aValues = fundamental.cast<std::vector<double>>();
        if (spec.m_aValues.size() < 2 || std::any_of(spec.m_aValues.begin(), spec.m_aValues.end(),
                                                     [](double hz) { return !(hz > 0.0); })) {
            throw py::value_error("fundamental expects two or more frequencies above 0 Hz");
        }
    }
    const analysis::CAnalysisOptions options = AnalysisOptions(skip, length, std::nullopt, std::nullopt);
    std::string folder;
    if (!folderArgument.is_none()) {
        py::object shown;
        folder = PathArgument(folderArgument, "folder", shown);
    }
    // The stimulus's rate is the recordings' unless the settings name another than the default.
    const bool rateGiven = settings.m_nSampleRate != CGenerationSettings().m_nSampleRate;
    CPythonWatch watch;
    CPythonProgress progress(watch);
    instrument::CSweepResult result = RunOnDevices(watch, [&] {
        return folder.empty()
                   ? instrument::SweepLive(settings, spec, {output, input, ""}, options, &progress)
                   : instrument::SweepFolder(settings, spec, folder, options, &progress, rateGiven);
    });
    watch.Rethrow();
    result.m_dGainAtHz = gainAt;
    result.m_dLimitDb = limitDb;
    instrument::SummariseSweep(result);
    return SweepResult(result, settings);
}

// Writes the measurement behind a result of analyze() or measure() as the HTML page
// vorlanx-analyze --report writes, replacing `path` only once complete.
void Report(const py::object& result, const py::object& pathArgument) {
    py::object shown;
    const std::string path = PathArgument(pathArgument, "path", shown);
    if (!py::isinstance(result, *g_pResultType) || !py::hasattr(result, "_measurement")) {
        throw py::type_error("report expects the result analyze() or measure() returned, not " +
                             std::string(py::str(result.get_type().attr("__name__"))));
    }
    const auto kept = result.attr("_measurement").cast<std::shared_ptr<CKeptMeasurement>>();
    if (!kept || !kept->m_report) {
        throw py::value_error("this result was pickled and has lost its measurement: analyse the recording "
                              "again to report it");
    }
    instrument::CReportContext context = kept->m_context;
    if (!kept->m_strRecording.empty()) {
        const py::gil_scoped_release unlocked; // a large recording takes a while to read
        context.m_strChecksum = instrument::FileMd5(kept->m_strRecording);
    }
    const std::string html =
        instrument::ReportHtml(*kept->m_report, kept->m_verdict ? &*kept->m_verdict : nullptr,
                               kept->m_limits ? &*kept->m_limits : nullptr, context);
    platform::COutputFile page;
    if (!page.Open(path)) {
        RaiseOsError(page.OpenErrorNumber(), page.OpenError(), shown);
    }
    try {
        page.Write(html.data(), html.size());
        page.Commit();
    } catch (const platform::CFileException& error) {
        RaiseOsError(error.Error(), error.what(), shown);
    }
}

py::dict Play(const CGenerationSettings& settings, const std::string& device, bool loop) {
    if (const auto problem = CheckSettingsRanges(settings)) {
        throw py::value_error(*problem);
    }
    PlanOrRaise(settings);
    CPythonWatch watch;
    CPythonProgress progress(watch);
    std::string name;
    const audio::CSessionReport session = RunOnDevices(watch, [&] {
        const audio::CAudioSystem system;
        const audio::CDeviceInfo& output = system.Find(device, audio::EDirection::Output);
        name = output.m_strName;
        return audio::PlayStimulus(system, output, settings, loop, progress);
    });
    if (session.m_bCancelled) {
        watch.Rethrow();
        RaiseKeyboardInterrupt();
    }
    py::dict result;
    result["device"] = name;
    result["frames"] = session.m_nFramesPlayed;
    result["underruns"] = session.m_nUnderruns;
    return result;
}

} // namespace

PYBIND11_MODULE(vorlanx, module) {
    module.doc() =
        "The Ombrel test signal: its plan, its exact samples, the generator's file, and the analyser.";
    module.attr("__version__") = VORLANX_VERSION;
    DefineSettings(module);
    module.def(
        "plan", &Plan, py::arg("settings"),
        "What the settings will produce, as vorlanx-gen --info --json gives it (the exact peak takes a\n"
        "whole rendering; Ctrl-C stops it with KeyboardInterrupt).");
    module.def(
        "render", &Render, py::arg("settings"), py::arg("start") = 0, py::arg("frames") = py::none(),
        "The exact samples the file holds from frame `start` on: an array of shape (frames, 2),\n"
        "int16 for s16, int32 for s24 (the 24-bit values), float32 for f32. `frames` None means to the\n"
        "end; like a slice, it stops at the file's end. The array owns the rendered memory (no copy).\n"
        "Reaching `start` takes time in proportion to it. Releases the GIL while it renders.");
    module.def(
        "write", &Write, py::arg("path"), py::arg("settings"), py::arg("progress") = py::none(),
        "Writes the file as vorlanx-gen does, replacing `path` only once complete. `progress`, if given,\n"
        "is called with the fraction done. KeyboardInterrupt (or an exception in `progress`) stops it\n"
        "and leaves `path` as it was. Returns {path, frames, bytes, peak, clipping_warning}. Raises\n"
        "ValueError for refused settings, OSError (with errno and the path) when the file cannot be\n"
        "opened or written or has no room.");
    module.def("analyze", &Analyze, py::arg("recording"), py::arg("settings"),
               py::arg("sample_rate") = py::none(), py::arg("full_scale") = py::none(),
               py::arg("skip") = analysis::CAnalysisOptions().m_dSkipS, py::arg("length") = py::none(),
               py::arg("left") = py::none(), py::arg("right") = py::none(), py::arg("limits") = py::none(),
               "Measures a recording (a path, or a numpy array of shape (frames,) or (frames, channels)\n"
               "with its sample_rate) against the stimulus `settings` describe; returns the report with the\n"
               "keys of vorlanx-analyze --json. An array's samples are taken against `full_scale`, by\n"
               "default their type's (1.0 for floats, 32767 for int16, 2147483647 for int32; render's s24\n"
               "arrays need 8388607). `skip` seconds are left out at the start, then at most `length`\n"
               "seconds are analysed; `left` and `right` are 1-based channel numbers (right=0: no\n"
               "reference). `limits` (a limits file's path, or a dict of the same shape) adds the verdict\n"
               "under \"verdict\", as vorlanx-analyze --limits --json gives it.\n"
               "Raises OSError for a file that cannot be opened, ValueError for one that is not\n"
               "audio or cannot be analysed, KeyboardInterrupt on Ctrl-C. Releases the GIL while it works.");
    module.def("sweep", &Sweep, py::arg("settings"), py::kw_only(), py::arg("level") = py::none(),
               py::arg("fundamental") = py::none(), py::arg("folder") = py::none(), py::arg("output") = "",
               py::arg("input") = "", py::arg("skip") = analysis::CAnalysisOptions().m_dSkipS,
               py::arg("length") = py::none(), py::arg("gain_at") = py::none(),
               py::arg("limit_db") = instrument::kDefaultSweepLimitDb,
               "Measures one step per level (level=(start, stop, step), dB against the settings'\n"
               "amplitudes) or per fundamental (fundamental=[f1, f2, ...]), live on the devices or from\n"
               "`folder`, whose recordings are named by step (step_-40dB.wav, 277Hz.wav), as\n"
               "vorlanx-analyze --sweep does. Returns a dict: kind, step_value and the figures per step as\n"
               "numpy arrays (distortion_noise_db, even_order_db, odd_order_db, gain_db at the tone\n"
               "nearest gain_at, noise_floor_dbfs; NaN where a step was not measured), steps (each step's\n"
               "Result, or None) and problems (why not), and for levels limit_db, best_level_db and\n"
               "limit_level_db, for fundamentals merged_response (arrays frequency_hz, gain_db, phase_deg,\n"
               "from_fundamental_hz). ValueError for bad steps, RuntimeError for a device that fails,\n"
               "KeyboardInterrupt on Ctrl-C. Releases the GIL while it works.");
    py::class_<CContinuousIterator>(
        module, "ContinuousMeasurement",
        "The updates of measure(continuous=True): iterate, close(), or use in a with "
        "block; the devices are released when it stops.")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &CContinuousIterator::Next)
        .def("close", &CContinuousIterator::Close, "Stops the measurement and releases the devices.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](CContinuousIterator& self, const py::args&) { self.Close(); });
    module.def("measure", &Measure, py::arg("settings"), py::arg("output") = "", py::arg("input") = "",
               py::arg("save_recording") = "", py::arg("skip") = analysis::CAnalysisOptions().m_dSkipS,
               py::arg("length") = py::none(), py::arg("progress") = py::none(),
               py::arg("continuous") = false, py::arg("update") = instrument::CContinuousOptions().m_dUpdateS,
               py::arg("average") = instrument::CContinuousOptions().m_nAverage,
               py::arg("count") = py::none(),
               "Plays the stimulus on the output device and records the input (names or parts of names\n"
               "as vorlanx-analyze --list-devices shows them; empty: the default), then analyses the\n"
               "answer from the latency on, as vorlanx-analyze --measure does. Returns the report's keys\n"
               "and underruns, overruns, output_device, input_device. `save_recording` keeps the\n"
               "recording there. Raises ValueError for refused settings or a refused recording,\n"
               "RuntimeError for a device that fails or a recording that is silent or clips, OSError\n"
               "when the recording cannot be written, KeyboardInterrupt on Ctrl-C (the device is\n"
               "released). Releases the GIL while it works.\n"
               "With continuous=True it returns an iterator instead: the stimulus loops and each item is\n"
               "the result of the newest `update` seconds of recording (averaged with the blocks before\n"
               "it when average > 1), as vorlanx-analyze --continuous --json gives it, until `count`\n"
               "updates, close(), a break or Ctrl-C.");
    py::object builtins = py::module_::import("builtins");
    g_pResultType = new py::object(builtins.attr("type")(
        "Result", py::make_tuple(builtins.attr("dict")),
        py::dict(py::arg("__module__") = "vorlanx",
                 py::arg("__doc__") = "The report's keys, as a dict; report() writes the page of the "
                                      "measurement behind it.")));
    module.attr("Result") = *g_pResultType;
    py::class_<CKeptMeasurement, std::shared_ptr<CKeptMeasurement>>(module, "_Measurement")
        .def("__copy__", [](const std::shared_ptr<CKeptMeasurement>& self) { return self; })
        .def("__deepcopy__",
             [](const std::shared_ptr<CKeptMeasurement>& self, const py::object&) { return self; })
        .def(py::pickle([](const CKeptMeasurement&) { return py::make_tuple(); },
                        [](const py::tuple&) { return std::make_shared<CKeptMeasurement>(); }));
    module.def("report", &Report, py::arg("result"), py::arg("path"),
               "Writes the measurement behind `result` (what analyze() or measure() returned) as one\n"
               "self-contained HTML page, as vorlanx-analyze --report does: the verdict first where limits\n"
               "were given, the Response and Spectrum plots, each figure with its definition. Replaces\n"
               "`path` only once complete. Raises TypeError for anything but such a result, ValueError\n"
               "for one that was pickled (its spectrum does not travel), OSError when the page cannot be\n"
               "written.");
    module.def("play", &Play, py::arg("settings"), py::arg("device") = "", py::arg("loop") = false,
               "Plays the stimulus on an output device (a name or part of one; empty: the default) until\n"
               "its end, or with loop=True until Ctrl-C (KeyboardInterrupt). Returns {device, frames,\n"
               "underruns}. Raises ValueError for refused settings, RuntimeError for a device that\n"
               "fails. Releases the GIL while it plays.");
}
