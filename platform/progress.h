#pragma once

#include <cstdint>
#include <stdexcept>

namespace platform {

// How far a long piece of work is, and whether to stop: the one interface that rendering, analysis
// and the audio sessions report to. Each shell has one adapter (a console line, a Qt signal, a
// Python callback). Both functions are called on the thread that does the work, from a few times a
// second to a few hundred; they must be quick and must not throw.
class CProgress {
public:
    virtual ~CProgress() = default;
    // `done` of `total` units of work, in the work's own unit (frames written, read or played);
    // `total` is 0 where the work has no end (a loop until cancelled). Does nothing by default.
    virtual void ReportProgress(std::uint64_t done, std::uint64_t total) {
        (void)done;
        (void)total;
    }
    // True asks the work to stop as soon as it can; how it then ends is the work's contract (an
    // exception, or a result that says it was cancelled). Never by default.
    virtual bool CancelRequested() { return false; }
};

// Thrown by work that stopped because its CProgress asked it to: nothing it would have produced
// exists. Rendering and analysis throw their own kinds of it.
class CCancelled : public std::runtime_error {
public:
    explicit CCancelled(const char* what = "the work was cancelled") : std::runtime_error(what) {}
};

} // namespace platform
