#include "cli/console_audio_feedback.h"

#include "cli/interrupt.h"

CConsoleAudioFeedback::CConsoleAudioFeedback(const char* program, double sampleRate, bool quiet,
                                             int descriptor)
    : m_console(program, sampleRate, quiet, InterruptSignal(), descriptor) {
    m_console.BeginWait();
}

CConsoleAudioFeedback::~CConsoleAudioFeedback() {
    m_console.EndWait();
}

void CConsoleAudioFeedback::ReportProgress(std::uint64_t done, std::uint64_t total) {
    m_console.ReportProgress(done, total);
}

bool CConsoleAudioFeedback::CancelRequested() {
    return m_console.CancelRequested();
}
