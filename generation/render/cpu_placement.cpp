#include "generation/render/cpu_placement.h"

namespace render {

CCpuPlacement::CCpuPlacement() {
    CPU_ZERO(&m_allowed);
    if (sched_getaffinity(0, sizeof m_allowed, &m_allowed) != 0) {
        return; // unknown: start threads wherever the scheduler puts them
    }
    m_nAllowed = static_cast<unsigned>(CPU_COUNT(&m_allowed));
    const int current = sched_getcpu();
    if (current < 0) {
        return;
    }
    for (int step = 1; step < CPU_SETSIZE; ++step) {
        const int cpu = (current + step) % CPU_SETSIZE;
        if (CPU_ISSET(cpu, &m_allowed)) {
            m_aOthers.push_back(cpu);
        }
    }
}

void CCpuPlacement::Place(pthread_t handle, unsigned helper) const {
    if (m_aOthers.empty() || helper == 0) {
        return;
    }
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(m_aOthers[(helper - 1) % m_aOthers.size()], &one);
    pthread_setaffinity_np(handle, sizeof one, &one); // a refusal only costs time
}

void CCpuPlacement::Release() const {
    if (!m_aOthers.empty()) {
        pthread_setaffinity_np(pthread_self(), sizeof m_allowed, &m_allowed);
    }
}

} // namespace render
