#include "cli/console_feedback.h"

#include <algorithm>
#include <iostream>
#include <string>
#include <unistd.h>

#include "platform/number_text.h"

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kFirstDraw = std::chrono::milliseconds(500); // short jobs show no line at all
constexpr auto kRedraw = std::chrono::milliseconds(100);

// "  7%", " 42%", "100%": whole percent, right-aligned so the line does not jump.
std::string Percent(double fraction) {
    std::string text = platform::FormatDecimals(100.0 * fraction, 0) + "%";
    return std::string(text.size() < 4 ? 4 - text.size() : 0, ' ') + text;
}
} // namespace

CConsoleFeedback::CConsoleFeedback(std::string program, double sampleRate, bool quiet,
                                   const volatile std::sig_atomic_t& interrupt, int descriptor)
    : m_strProgram(std::move(program)), m_dSampleRate(sampleRate),
      m_bShowProgress(!quiet && ::isatty(descriptor) == 1), m_nInterrupt(interrupt),
      m_nDescriptor(descriptor) {}

void CConsoleFeedback::Put(const std::string& text) const {
    std::cerr.flush();
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t wrote = ::write(m_nDescriptor, text.data() + done, text.size() - done);
        if (wrote <= 0) {
            return; // nowhere to say it: the job goes on
        }
        done += static_cast<std::size_t>(wrote);
    }
}

void CConsoleFeedback::BeginWait() {
    m_start = Clock::now();
}

void CConsoleFeedback::EndWait() {
    if (m_bDrawn) {
        Draw(true);
    }
}

void CConsoleFeedback::ShowMessage(const std::string& text, unsigned) {
    Put(m_strProgram + ": " + text + '\n');
}

void CConsoleFeedback::ShowDetailedMessage(const std::string& text, unsigned type,
                                           const std::string& detail) {
    ShowMessage(text + " " + detail, type);
}

void CConsoleFeedback::ReportProgress(std::uint64_t framesWritten, std::uint64_t frameCount) {
    m_nWritten = framesWritten;
    m_nFrameCount = frameCount;
    const auto now = Clock::now();
    if (m_bShowProgress && now - m_start >= kFirstDraw && (!m_bDrawn || now - m_lastDraw >= kRedraw)) {
        m_lastDraw = now;
        Draw(false);
    }
}

bool CConsoleFeedback::CancelRequested() {
    return m_nInterrupt != 0;
}

void CConsoleFeedback::ReportWaiting(const std::string& path) {
    if (m_bShowProgress) {
        Put(m_strProgram + ": waiting for a program to read " + path + '\n');
    }
}

std::string CConsoleFeedback::ProgressText(std::uint64_t framesWritten, std::uint64_t frameCount,
                                           double sampleRate, double elapsedSeconds) {
    const double rate = std::max(sampleRate, 1.0);
    const double written = static_cast<double>(framesWritten) / rate;
    if (frameCount == 0) { // a loop without end
        return platform::FormatDecimals(written, 1) + " s, looping (Ctrl-C stops)";
    }
    const double done = static_cast<double>(framesWritten) / static_cast<double>(frameCount);
    std::string text = Percent(done) + "  " + platform::FormatDecimals(written, 1) + " s of " +
                       platform::FormatDecimals(static_cast<double>(frameCount) / rate, 1) + " s";
    if (elapsedSeconds > 0.0 && framesWritten > 0) {
        text += ", " + platform::FormatDecimals(written / elapsedSeconds, 1) + "x real time, " +
                platform::FormatDecimals(elapsedSeconds * (1.0 - done) / done, 0) + " s left";
    }
    return text;
}

void CConsoleFeedback::Draw(bool final) {
    const double elapsed = std::chrono::duration<double>(Clock::now() - m_start).count();
    // Back to the line's start, the text, then the rest of the line cleared.
    std::string line = '\r' + ProgressText(m_nWritten, m_nFrameCount, m_dSampleRate, elapsed) + "\x1b[K";
    if (final) {
        line += '\n';
        m_bDrawn = false;
    } else {
        m_bDrawn = true;
    }
    Put(line);
}
