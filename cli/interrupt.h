#pragma once

#include <csignal>

// Ctrl-C, SIGTERM and SIGHUP as a request to stop: the handler only records the signal, and the
// program's work asks InterruptSignal() between its steps. A closed pipe or a file-size limit
// becomes a failed write with its reason instead of killing the process.
void InstallInterruptHandlers();

// The signal that asked to stop, or 0.
const volatile std::sig_atomic_t& InterruptSignal();
