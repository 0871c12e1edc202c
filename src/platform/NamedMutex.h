#pragma once
// A named single-instance lock: the Windows named mutex (CreateMutexW, ERROR_ALREADY_EXISTS),
// on Linux an exclusive flock on a file named after the mutex. The lock is held until the object
// is destroyed or the process ends; child processes never inherit it.

#include <cstdint>
#include <string>

namespace platform {

class NamedMutex {
public:
    enum class State { Created, AlreadyExists, Failed };

    NamedMutex() = default;
    NamedMutex(NamedMutex&& other) noexcept;
    NamedMutex& operator=(NamedMutex&& other) noexcept;
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;
    ~NamedMutex();

    // Created: this process now holds it. AlreadyExists: another holder has it.
    // Failed: the system refused the object; callers run unprotected.
    static NamedMutex Create(const std::string& name);

    State state() const { return m_state; }
    void Close();

private:
    std::intptr_t m_handle = -1;  // the lock file's descriptor or the mutex handle; -1: none
    State m_state = State::Failed;
};

}  // namespace platform
