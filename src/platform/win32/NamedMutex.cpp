#include "platform/NamedMutex.h"

#include "platform/win32/Wide.h"

namespace platform {

void NamedMutex::Close() {
    if (m_handle != -1) {
        ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
        m_handle = -1;
    }
}

NamedMutex NamedMutex::Create(const std::string& name) {
    NamedMutex mutex;
    // No namespace prefix: one launcher per logon session. The handle is not inheritable.
    const HANDLE handle = ::CreateMutexW(nullptr, FALSE, win32::Widen(name).c_str());
    if (handle == nullptr) {
        return mutex;
    }
    // The object exists either way; the second holder keeps its handle until it lets go, as
    // the original does, so that the first holder's exit cannot hand the name to a third.
    mutex.m_handle = reinterpret_cast<std::intptr_t>(handle);
    mutex.m_state = ::GetLastError() == ERROR_ALREADY_EXISTS ? State::AlreadyExists : State::Created;
    return mutex;
}

}  // namespace platform
