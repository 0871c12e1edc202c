#include "ui/ProgressRepeats.h"

bool ProgressRepeats::ShowProgressChanges(const std::string& status, int percent, int downloading) {
    std::lock_guard lock(m_mutex);
    if (m_lastProgress && m_lastProgress->status == status && m_lastProgress->percent == percent &&
        m_lastProgress->downloading == downloading) {
        return false;
    }
    m_lastProgress = Shown{status, percent, downloading};
    m_stateStale = true;
    return true;
}

bool ProgressRepeats::StateChanges(State state) {
    std::lock_guard lock(m_mutex);
    if (!m_stateStale && m_lastState == state) {
        return false;
    }
    m_lastState = state;
    m_stateStale = false;
    return true;
}
