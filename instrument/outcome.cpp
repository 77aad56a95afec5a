#include "instrument/outcome.h"

namespace instrument {

std::string COutcome::Message() const {
    switch (m_eProblem) {
    case EProblem::None:
        return {};
    case EProblem::Unreadable:
        return m_strSubject + ": " + m_strReason;
    case EProblem::Refused:
        return m_strSubject + ": cannot be analysed: " + m_strReason;
    case EProblem::RecordingProblem:
    case EProblem::TooShort:
        break;
    }
    return m_strReason;
}

} // namespace instrument
