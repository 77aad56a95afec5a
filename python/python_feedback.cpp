#include "python/python_feedback.h"

namespace py = pybind11;

CPythonWatch::CPythonWatch(py::object progress) : m_progress(std::move(progress)) {}

bool CPythonWatch::Cancelled() {
    if (m_bRaised) {
        return true;
    }
    const py::gil_scoped_acquire lock;
    if (PyErr_CheckSignals() != 0) {
        m_error.emplace(); // takes the raised exception
        m_bRaised = true;
    }
    return m_bRaised;
}

void CPythonWatch::Progress(double fraction) {
    if (m_bRaised || m_progress.is_none()) {
        return;
    }
    const py::gil_scoped_acquire lock;
    try {
        m_progress(fraction);
    } catch (py::error_already_set& error) {
        m_error.emplace(std::move(error));
        m_bRaised = true;
    }
}

void CPythonWatch::Rethrow() {
    if (m_error) {
        py::error_already_set error = std::move(*m_error);
        m_error.reset();
        throw error;
    }
}
