#pragma once

#include "audio/audio_session.h"
#include "cli/console_feedback.h"

// A sound session's feedback on a terminal: the progress line (seconds played or recorded, of the
// whole, or "looping") when standard error is a terminal, and Ctrl-C (or SIGTERM, SIGHUP) as a cancel.
class CConsoleAudioFeedback : public audio::CAudioFeedback {
public:
    // Writes to `descriptor`: the real standard error while a CQuietStandardError silences it.
    CConsoleAudioFeedback(const char* program, double sampleRate, bool quiet, int descriptor);
    // Ends the progress line.
    ~CConsoleAudioFeedback() override;
    void ReportProgress(std::uint64_t done, std::uint64_t total) override;
    bool CancelRequested() override;

private:
    CConsoleFeedback m_console;
};
