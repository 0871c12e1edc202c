// The parts of a request's network side that every HTTP library shares: the body buffer and
// the stage threads.

#include "telemetry/HttpTransfer.h"

#include <system_error>

namespace inner {

// ---- CReceiveBuffer

void CReceiveBuffer::Append(const char* data, size_t size) {
    std::lock_guard lock(m_cs);
    m_data.append(data, size);
}

std::string CReceiveBuffer::Contents() {
    std::lock_guard lock(m_cs);
    return m_data;
}

size_t CReceiveBuffer::Size() {
    std::lock_guard lock(m_cs);
    return m_data.size();
}

// ---- CStageThread

bool CStageThread::Start(std::function<void()> body) {
    auto state = std::make_shared<State>();
    try {
        m_thread = std::thread([state, body = std::move(body)]() mutable {
            body();
            body = nullptr;  // drop what the stage held before it counts as ended
            {
                std::lock_guard lock(state->mutex);
                state->done = true;
            }
            state->ended.notify_all();
        });
    } catch (const std::system_error&) {
        return false;  // out of threads
    }
    m_state = std::move(state);
    return true;
}

bool CStageThread::IsRunning() const {
    if (!m_state) {
        return false;
    }
    std::lock_guard lock(m_state->mutex);
    return !m_state->done;
}

bool CStageThread::WaitUntil(std::chrono::steady_clock::time_point deadline) const {
    if (!m_state) {
        return true;
    }
    std::unique_lock lock(m_state->mutex);
    return m_state->ended.wait_until(lock, deadline, [&] { return m_state->done; });
}

void CStageThread::Close() {
    if (m_thread.joinable()) {
        if (IsRunning()) {
            m_thread.detach();  // it holds its own references and ends on its own
        } else {
            m_thread.join();
        }
    }
    m_state.reset();
}

}  // namespace inner
