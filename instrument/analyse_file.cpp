#include "instrument/analyse_file.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "analysis/analysis_plan.h"
#include "analysis/file_recording.h"
#include "generation/job_plan.h"
#include "platform/number_text.h"
#include "platform/temporary_file.h"

namespace instrument {

namespace {

// True for a path that names a regular file (or anything the reader will say is not one): what is
// not a stream.
bool IsRegularFile(const std::string& path) {
    if (path == "-") {
        return false;
    }
    struct stat status {};
    return ::stat(path.c_str(), &status) != 0 || S_ISREG(status.st_mode) || S_ISDIR(status.st_mode);
}

// Copies the stream `path` ("-": standard input) into the file `to`; why not, or nullopt.
std::optional<std::string> CopyStream(const std::string& path, const std::string& to,
                                      platform::CProgress* progress) {
    // Opened without waiting for a FIFO's writer (none yet reads as an empty stream), then read
    // with waits.
    const int in = path == "-" ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (in < 0) {
        return std::string(std::strerror(errno));
    }
    if (in != STDIN_FILENO) {
        ::fcntl(in, F_SETFL, ::fcntl(in, F_GETFL) & ~O_NONBLOCK);
    }
    bool cancelled = false;
    const int out = ::open(to.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    std::optional<std::string> problem;
    if (out < 0) {
        problem = std::string("cannot buffer it: ") + std::strerror(errno);
    }
    std::vector<char> buffer(1 << 16);
    while (!problem) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got == 0) {
            break;
        }
        if (got < 0) {
            if (errno == EINTR && !(progress && progress->CancelRequested())) {
                continue;
            }
            cancelled = errno == EINTR;
            problem = std::string(std::strerror(errno));
            break;
        }
        for (ssize_t done = 0; done < got && !problem;) {
            const ssize_t wrote = ::write(out, buffer.data() + done, static_cast<std::size_t>(got - done));
            if (wrote < 0) {
                problem = std::string("cannot buffer it: ") + std::strerror(errno);
            } else {
                done += wrote;
            }
        }
        if (progress && progress->CancelRequested()) {
            cancelled = true;
            break;
        }
    }
    if (out >= 0) {
        ::close(out);
    }
    if (in != STDIN_FILENO) {
        ::close(in);
    }
    if (cancelled) {
        throw platform::CCancelled("the reading was cancelled");
    }
    return problem;
}

} // namespace

COutcome AnalyseRecording(const CGenerationSettings& settings, analysis::CRecording& recording,
                          const analysis::CAnalysisOptions& options, platform::CProgress* progress,
                          bool rateGiven) {
    CGenerationSettings stimulus = settings;
    stimulus.m_dDuration = 0.0; // the stimulus's length plays no part in its lines
    // The stimulus was made at the recording's rate, unless the caller says which it was.
    const double rate = recording.SampleRate();
    if (!rateGiven && rate >= 1.0 && rate <= kMaxSampleRate && rate == std::floor(rate)) {
        stimulus.m_nSampleRate = static_cast<std::uint32_t>(rate);
    }
    const analysis::CAnalysisPlan plan = analysis::MakeAnalysisPlan(MakeJobPlan(stimulus), rate);
    analysis::CAnalysisOptions spanned = options;
    spanned.m_dFadeInS = settings.m_dFadeInS;
    spanned.m_dFadeOutS = settings.m_dFadeOutS;
    COutcome outcome;
    outcome.m_strSubject = recording.Name();
    outcome.m_nChannels = recording.Channels();
    analysis::CAnalysisReport report = analysis::AnalyzeRecording(plan, recording, spanned, progress);
    if (report.m_strRefusal) {
        outcome.m_eProblem = EProblem::Refused;
        outcome.m_eRefusal = report.m_eRefusal;
        outcome.m_strReason = *report.m_strRefusal;
        outcome.m_refused = std::move(report);
    } else {
        outcome.m_report = std::move(report);
    }
    return outcome;
}

COutcome AnalyseFile(const CGenerationSettings& settings, const std::string& path,
                     const analysis::CAnalysisOptions& options, platform::CProgress* progress,
                     bool rateGiven) {
    std::string error;
    // A stream (standard input, a pipe) is read twice by the analysis: into a file first.
    std::optional<platform::CTemporaryFile> copy;
    std::string readable = path;
    if (!IsRegularFile(path)) {
        copy.emplace("vorlanx-input-", ".audio");
        if (const auto problem = CopyStream(path, copy->Path(), progress)) {
            COutcome outcome;
            outcome.m_eProblem = EProblem::Unreadable;
            outcome.m_strSubject = path == "-" ? "standard input" : path;
            outcome.m_strReason = *problem;
            return outcome;
        }
        readable = copy->Path();
    }
    const std::unique_ptr<analysis::CFileRecording> recording =
        analysis::CFileRecording::Open(readable, error);
    if (!recording) {
        COutcome outcome;
        outcome.m_eProblem = EProblem::Unreadable;
        outcome.m_strSubject = path == "-" ? "standard input" : path;
        outcome.m_strReason = error;
        return outcome;
    }
    COutcome outcome = AnalyseRecording(settings, *recording, options, progress, rateGiven);
    if (outcome.m_eProblem == EProblem::Refused && recording->Truncated()) {
        // The refusal's likely cause: say it, or "no frames are left" reads like a wrong option.
        const std::string cause =
            "; the file is cut short: its header promises more audio than the " +
            platform::FormatDecimals(static_cast<double>(recording->Frames()) / recording->SampleRate(), 3) +
            " s it holds";
        outcome.m_strReason += cause;
        if (outcome.m_refused && outcome.m_refused->m_strRefusal) {
            *outcome.m_refused->m_strRefusal += cause;
        }
    }
    if (outcome.m_report && recording->Truncated()) {
        outcome.m_report->m_aWarnings.push_back(
            "The file is truncated: its header promises more audio than it holds; it was analysed up to its "
            "last whole frame (" +
            platform::FormatDecimals(static_cast<double>(recording->Frames()) / recording->SampleRate(), 3) +
            " s).");
    }
    outcome.m_strSubject = path == "-" ? "standard input" : path;
    for (auto* report : {&outcome.m_report, &outcome.m_refused}) {
        if (*report) {
            (*report)->m_strRecording = outcome.m_strSubject;
        }
    }
    return outcome;
}

} // namespace instrument
