#pragma once

#include <string>

namespace render {

struct CSineKernel;

// How the frames are computed. Every choice gives the same bytes; it only changes the speed.
enum class ERenderPath {
    Block,    // vectorized sines over blocks of frames, on all hardware threads
    PerFrame, // one frame at a time with the standard library's sine: the plain reference
};

// Faults and substitutes a test injects into the block renderer. Never set outside tests.
struct CTestHooks {
    unsigned m_nHelpersThatStart = ~0u;     // helper threads after this many fail to start
    bool m_bHelperThrows = false;           // the first helper fails with std::bad_alloc as it starts
    double m_dMarginFactor = 1.0;           // scales the edge margins (0: no frame is recomputed)
    const CSineKernel* m_pKernel = nullptr; // a kernel of the test's own, instead of m_strKernel's
};

struct CRenderOptions {
    ERenderPath m_ePath = ERenderPath::Block;
    unsigned m_nThreads = 0; // 0: one per hardware thread; at most 64 are used
    std::string m_strKernel; // empty: the fastest this CPU runs; else one of KernelNames()
    const CTestHooks* m_pTestHooks = nullptr;
};

} // namespace render
