#pragma once

#include "cli/console_feedback.h"
#include "platform/progress.h"

// Long work's progress on a terminal (playing, recording, analysing): the progress line (seconds
// done of the whole, or "looping") when the descriptor is a terminal and the program is not quiet,
// and Ctrl-C (or SIGTERM, SIGHUP) as a cancel. The one adapter of platform::CProgress for the
// command-line programs; the generate job has CConsoleFeedback, which draws the same line.
class CConsoleProgress : public platform::CProgress {
public:
    // Writes to `descriptor`: the real standard error while a CQuietStandardError silences it.
    CConsoleProgress(const char* program, double sampleRate, bool quiet, int descriptor = 2);
    // Ends the progress line.
    ~CConsoleProgress() override;
    // From now on `passes` units of work make one frame of the recording (an analysis reads it
    // twice), and the line starts again.
    void SetPasses(unsigned passes);
    void ReportProgress(std::uint64_t done, std::uint64_t total) override;
    bool CancelRequested() override;

private:
    CConsoleFeedback m_console;
    unsigned m_nPasses = 1;
};
