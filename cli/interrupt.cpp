#include "cli/interrupt.h"

#include <initializer_list>

namespace {

volatile std::sig_atomic_t g_nInterrupt = 0;

extern "C" void OnInterrupt(int signal) {
    g_nInterrupt = signal;
}

} // namespace

void InstallInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

const volatile std::sig_atomic_t& InterruptSignal() {
    return g_nInterrupt;
}
