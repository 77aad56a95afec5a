#include "cli/console_progress.h"

#include "cli/interrupt.h"

CConsoleProgress::CConsoleProgress(const char* program, double sampleRate, bool quiet, int descriptor)
    : m_console(program, sampleRate, quiet, InterruptSignal(), descriptor) {
    m_console.BeginWait();
}

CConsoleProgress::~CConsoleProgress() {
    m_console.EndWait();
}

void CConsoleProgress::SetPasses(unsigned passes) {
    m_console.EndWait();
    m_console.BeginWait();
    m_nPasses = passes > 0 ? passes : 1;
}

void CConsoleProgress::ReportProgress(std::uint64_t done, std::uint64_t total) {
    m_console.ReportProgress(done / m_nPasses, total / m_nPasses);
}

bool CConsoleProgress::CancelRequested() {
    return m_console.CancelRequested();
}
