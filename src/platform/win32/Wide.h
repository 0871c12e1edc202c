#pragma once
// UTF-8 <-> UTF-16 at the edge of the Windows backend: the launcher's texts are UTF-8, every
// Windows call takes and gives UTF-16. For the Windows sources only: platform/win32 and the
// Windows backends of other libraries (the reports' WinINet transfers).

#include <windows.h>

// The platform layer's own functions share these names; the A/W macros of windows.h must not
// rename them here (every Windows call in this backend names its W form).
#undef CopyFile
#undef DeleteFile
#undef MessageBox
#undef MoveFile
#undef RegCreateKeyEx
#undef RegDeleteKey
#undef RegDeleteValue
#undef RegOpenKeyEx
#undef RegQueryValueEx
#undef RemoveDirectory

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::win32 {

// Invalid UTF-8 becomes U+FFFD, unpaired surrogates likewise the other way.
std::wstring Widen(std::string_view text);
std::string Narrow(std::wstring_view text);

// A path for the wide file calls: forward slashes become backslashes.
std::wstring WidePath(std::string_view path);

// Keeps error for LastErrorText (platform/ErrorCodes.h) on this thread; 0 is ignored.
void NoteError(std::uint32_t error);

// The Windows error number of the last failed call, as a result code; LastErrorText names it.
inline std::uint32_t LastError() {
    const auto error = static_cast<std::uint32_t>(::GetLastError());
    NoteError(error);
    return error;
}

// Owns a kernel handle; INVALID_HANDLE_VALUE and null both mean none.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE handle) : m_handle(handle) {}
    Handle(Handle&& other) noexcept : m_handle(other.release()) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }

    HANDLE get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE; }
    HANDLE release() {
        HANDLE h = m_handle;
        m_handle = nullptr;
        return h;
    }
    void reset(HANDLE handle = nullptr) {
        if (*this) {
            ::CloseHandle(m_handle);
        }
        m_handle = handle;
    }

private:
    HANDLE m_handle = nullptr;
};

}  // namespace platform::win32
