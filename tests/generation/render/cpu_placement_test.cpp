#include <atomic>
#include <gtest/gtest.h>
#include <sched.h>
#include <thread>

#include "generation/render/cpu_placement.h"

namespace {

using render::CCpuPlacement;

cpu_set_t AffinityOfThisThread() {
    cpu_set_t set;
    CPU_ZERO(&set);
    EXPECT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
    return set;
}

// A helper is pinned to one other CPU when it starts, and after Release it may run on every CPU
// its starter may; with a single allowed CPU nothing is pinned. Both cases run on any machine: the
// second narrows this thread to one CPU first.
TEST(CpuPlacement, PinsAHelperToOneCpuThenFreesIt) {
    const cpu_set_t original = AffinityOfThisThread();
    for (const bool narrowed : {false, true}) {
        SCOPED_TRACE(narrowed ? "one CPU allowed" : "every CPU allowed");
        if (narrowed) {
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(sched_getcpu(), &one);
            ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
        }
        const cpu_set_t allowed = AffinityOfThisThread();
        const CCpuPlacement placement;
        EXPECT_EQ(placement.AllowedCpus(), static_cast<unsigned>(CPU_COUNT(&allowed)));

        std::atomic<bool> placed{false};
        cpu_set_t pinned, released;
        std::thread helper([&] {
            while (!placed.load()) {
                std::this_thread::yield();
            }
            pinned = AffinityOfThisThread();
            placement.Release();
            released = AffinityOfThisThread();
        });
        placement.Place(helper.native_handle(), 1);
        placed.store(true);
        helper.join();

        EXPECT_EQ(CPU_COUNT(&pinned), CPU_COUNT(&allowed) > 1 ? 1 : CPU_COUNT(&allowed));
        EXPECT_TRUE(CPU_EQUAL(&released, &allowed));
    }
    ASSERT_EQ(sched_setaffinity(0, sizeof original, &original), 0);
}

} // namespace
