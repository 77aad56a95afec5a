#pragma once

#include <cstdint>
#include <string>

#include "analysis/analysis_report.h"
#include "generation/settings.h"
#include "instrument/limits.h"
#include "instrument/sweep.h"

namespace instrument {

// What a filed report says about how it was made; every field is shown as given (empty: left out).
struct CReportContext {
    std::string m_strWhen;     // date and time of the measurement, e.g. "2026-12-09 04:50:12 UTC"
    std::string m_strChecksum; // the recording's MD5 in hex, as md5sum prints it
    std::string m_strDevices;  // a live measurement's output and input devices
    std::string m_strSession;  // and how its session went: SessionText
    std::string m_strSettings; // the stimulus's settings in one line
    std::string m_strVersion;  // the software that measured
};

// The context of a measurement made now: the time in UTC, the MD5 of `recordingPath` (none for an
// empty path or "-", standard input), the signal's settings but the duration (the recording's own),
// and the devices and version as given.
CReportContext MakeReportContext(const CGenerationSettings& settings, const std::string& recordingPath,
                                 const std::string& devices, const std::string& version);

// A live session's counts for a page: "0 underruns, 2 overruns".
std::string SessionText(std::uint64_t underruns, std::uint64_t overruns);

// The measurement as one self-contained HTML page a person can file: no scripts, no fetches, plots as
// inline SVG, dark text on white, laid out for A4 when printed. The verdict comes first (a PASS/FAIL
// banner) when `verdict` is given; the Response plot draws the gain masks of `limits` when given; the
// Spectrum shows the detection lines and spurs; the Summary gives each figure with its definition,
// uncertainty and limit; the warnings close it. `report` must not be a refusal. Any thread.
std::string ReportHtml(const analysis::CAnalysisReport& report, const CVerdict* verdict,
                       const CLimits* limits, const CReportContext& context);

// The start of a report page up to and including its heading `title`: the page's styles for screen
// and A4 print.
std::string PageStart(const std::string& title);
// A row of a page's table of facts, "<tr><td>LABEL</td><td>VALUE</td></tr>", both escaped; empty for
// an empty value (a fact that does not apply).
std::string MetaRow(const std::string& label, const std::string& value);
// The PASS/FAIL banner of a verdict ("PASS - 3 of 3 limits met"); empty without one.
std::string VerdictBanner(const CVerdict* verdict);

// A sweep as one page in the same style: the verdict of its [sweep] bounds first when given; for a
// level sweep, D+N, even and odd order against the level (the limit figure and the bounds dashed,
// the best and limit levels marked) and the gain against the level; for a fundamental sweep, the
// merged response, each point coloured by the fundamental it came from; then a table of the steps.
std::string SweepHtml(const CSweepResult& result, const CVerdict* verdict, const CLimits* limits,
                      const CReportContext& context);

// The MD5 of a regular file's bytes as 32 lower-case hex digits (what md5sum prints); empty for
// anything else (a FIFO, a device) and where it cannot be read (a file removed meanwhile).
std::string FileMd5(const std::string& path);

} // namespace instrument
