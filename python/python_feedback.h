#pragma once

#include <pybind11/pybind11.h>

#include <exception>
#include <optional>

#include "platform/progress.h"

// What a long call asks of Python while it runs without the interpreter's lock: whether Ctrl-C (or
// another signal handler) raised, and, for a `progress` callable, the fraction done. Each question
// takes the lock briefly. An exception raised by Python (KeyboardInterrupt, an error in `progress`)
// is kept, answered as a cancel, and rethrown by Rethrow() once the call is over.
class CPythonWatch {
public:
    explicit CPythonWatch(pybind11::object progress = pybind11::none());
    // Called without the lock. True once Python raised (the call should stop).
    bool Cancelled();
    // Reports `fraction` (0 to 1) to `progress`, if any, without the lock held on entry.
    void Progress(double fraction);
    // Rethrows what Python raised, with the lock held.
    void Rethrow();
    bool Raised() const { return m_bRaised; }

private:
    pybind11::object m_progress;
    bool m_bRaised = false;
    std::optional<pybind11::error_already_set> m_error;
};

// The module's one adapter of platform::CProgress: Ctrl-C and `progress` through a CPythonWatch.
class CPythonProgress : public platform::CProgress {
public:
    explicit CPythonProgress(CPythonWatch& watch) : m_watch(watch) {}
    void ReportProgress(std::uint64_t done, std::uint64_t total) override {
        m_watch.Progress(total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 0.0);
    }
    bool CancelRequested() override { return m_watch.Cancelled(); }

private:
    CPythonWatch& m_watch;
};
