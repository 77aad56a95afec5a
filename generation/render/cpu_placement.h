#pragma once

#include <pthread.h>
#include <sched.h>
#include <vector>

namespace render {

// Where the helper threads of one rendering start. Linux puts a new thread (and a woken one) on
// a CPU's queue; on some systems, virtual machines among them, an idle second CPU takes it only at
// the scheduler's next tick, up to 4 ms later, which is half of a short job. Pinning a new thread
// to another CPU at once starts it there within about 0.1 ms; the thread then lets itself run on
// every CPU again, so nothing stays bound.
class CCpuPlacement {
public:
    // Reads the CPUs the calling thread may run on, and the one it runs on now.
    CCpuPlacement();

    // How many CPUs the calling thread may run on, the threads worth starting; 0 when the system
    // does not say (more CPUs than a cpu_set_t holds).
    unsigned AllowedCpus() const { return m_nAllowed; }

    // Pins the just started thread `handle` to the `helper`-th allowed CPU after the caller's (helper from
    // 1, wrapping around). Does nothing where there is no other CPU or the system refuses: the
    // thread then starts wherever the scheduler puts it.
    void Place(pthread_t handle, unsigned helper) const;

    // Called by a thread that Place pinned, once it runs: lets it run on every allowed CPU again.
    void Release() const;

private:
    cpu_set_t m_allowed;
    unsigned m_nAllowed = 0;
    std::vector<int> m_aOthers; // allowed CPUs other than the caller's, in order after it
};

} // namespace render
