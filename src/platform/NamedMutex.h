#pragma once
// A named single-instance lock standing in for a Windows named mutex: an exclusive flock on
// a file named after the mutex. The lock is held until the object is destroyed or the
// process ends; child processes never inherit it.

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
    // Failed: the lock file could not be opened; callers run unprotected.
    static NamedMutex Create(const std::string& name);

    // $XDG_RUNTIME_DIR/<name>.lock, or /tmp/<name>-<uid>.lock without a runtime folder.
    static std::string LockFilePath(const std::string& name);

    State state() const { return m_state; }
    void Close();

private:
    int m_fd = -1;
    State m_state = State::Failed;
};

}  // namespace platform
