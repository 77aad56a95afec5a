#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <string>

#include "generation/feedback.h"

// The generate job's feedback on a terminal: messages to standard error after the program's name
// ("vorlanx-gen: File open failed! PATH: REASON"); a progress line on standard error when it is a
// terminal, the job has run half a second and it is not quiet, finished before any message; a note
// when it waits for a FIFO's reader (on a terminal, not quiet); and a cancel as soon as `interrupt`
// holds a signal number.
class CConsoleFeedback : public CGenerationFeedback {
public:
    // Writes to `descriptor` (standard error unless a caller silenced that and kept the real one).
    CConsoleFeedback(std::string program, double sampleRate, bool quiet,
                     const volatile std::sig_atomic_t& interrupt, int descriptor = 2);

    void BeginWait() override;
    void EndWait() override;
    void ShowMessage(const std::string& text, unsigned type) override;
    void ShowDetailedMessage(const std::string& text, unsigned type, const std::string& detail) override;
    void ReportProgress(std::uint64_t framesWritten, std::uint64_t frameCount) override;
    bool CancelRequested() override;
    void ReportWaiting(const std::string& path) override;

    // The progress line as it shows `framesWritten` of `frameCount` after `elapsedSeconds`:
    // percent, seconds of audio written of the whole, speed against real time, time left; for a
    // `frameCount` of 0 (a loop without end), the seconds so far.
    static std::string ProgressText(std::uint64_t framesWritten, std::uint64_t frameCount, double sampleRate,
                                    double elapsedSeconds);

private:
    void Draw(bool final);
    void Put(const std::string& text) const;

    std::string m_strProgram;
    double m_dSampleRate;
    bool m_bShowProgress;
    const volatile std::sig_atomic_t& m_nInterrupt;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_lastDraw;
    std::uint64_t m_nWritten = 0;
    std::uint64_t m_nFrameCount = 0;
    bool m_bDrawn = false;
    int m_nDescriptor;
};
