#include "platform/File.h"

#include <algorithm>
#include <utility>

#include "platform/ErrorCodes.h"
#include "platform/win32/Wide.h"

namespace platform {
namespace {

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// The held file moves to "<path>.1" (the handle shares deletion, so the move is allowed while it
// is open) and a fresh one takes its name; where either step fails the content is emptied in
// place instead, as a log without its previous run is better than none. False when the file
// could not be emptied either.
bool KeepPreviousContent(std::intptr_t& handle, const std::string& path) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(AsHandle(handle), &size) || size.QuadPart == 0) {
        return true;
    }
    const std::wstring wide = win32::WidePath(path);
    if (::MoveFileExW(wide.c_str(), win32::WidePath(path + ".1").c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const HANDLE fresh = ::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (fresh != INVALID_HANDLE_VALUE) {
            ::CloseHandle(AsHandle(handle));
            handle = reinterpret_cast<std::intptr_t>(fresh);
            return true;
        }
    }
    LARGE_INTEGER start{};
    return ::SetFilePointerEx(AsHandle(handle), start, nullptr, FILE_BEGIN) && ::SetEndOfFile(AsHandle(handle));
}

}  // namespace

// permissions: Windows files carry no mode bits; the folder's access rules apply.
File::File(const std::string& path, Mode mode, unsigned /*permissions*/) {
    DWORD access = GENERIC_WRITE;
    // Readers and writers beside this one are welcome, except beside an exclusive file.
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    DWORD disposition = OPEN_ALWAYS;
    switch (mode) {
        case Mode::Read:
            access = GENERIC_READ;
            disposition = OPEN_EXISTING;
            break;
        case Mode::Truncate: disposition = CREATE_ALWAYS; break;
        case Mode::Append: access = FILE_APPEND_DATA; break;
        case Mode::Exclusive: share = FILE_SHARE_READ | FILE_SHARE_DELETE; break;
    }
    if (path.empty()) {
        m_error = kErrorPathNotFound;
        return;
    }
    // Not inherited: no program the launcher starts may hold its files open.
    const HANDLE handle = ::CreateFileW(win32::WidePath(path).c_str(), access, share, nullptr, disposition,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        m_error = win32::LastError();
        return;
    }
    m_handle = reinterpret_cast<std::intptr_t>(handle);
    if (mode == Mode::Exclusive && !KeepPreviousContent(m_handle, path)) {
        Close();
    }
}

File::File(File&& other) noexcept
    : m_handle(std::exchange(other.m_handle, -1)), m_error(std::exchange(other.m_error, 0)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        m_handle = std::exchange(other.m_handle, -1);
        m_error = std::exchange(other.m_error, 0);
    }
    return *this;
}

File::~File() { Close(); }

std::size_t File::Write(const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size && IsOpen()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(AsHandle(m_handle), bytes + done, chunk, &written, nullptr)) {
            m_error = win32::LastError();
            break;
        }
        if (written == 0) {
            m_error = kErrorDiskFull;
            break;
        }
        done += written;
    }
    return done;
}

std::int64_t File::Read(void* buffer, std::size_t size) {
    if (!IsOpen()) {
        m_error = kErrorInvalidParameter;
        return -1;
    }
    DWORD read = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!::ReadFile(AsHandle(m_handle), buffer, chunk, &read, nullptr)) {
        m_error = win32::LastError();
        return -1;
    }
    return read;
}

std::int64_t File::Size() {
    LARGE_INTEGER size{};
    if (!IsOpen() || !::GetFileSizeEx(AsHandle(m_handle), &size)) {
        return -1;
    }
    return size.QuadPart;
}

bool File::Flush() {
    if (!IsOpen() || !::FlushFileBuffers(AsHandle(m_handle))) {
        m_error = IsOpen() ? win32::LastError() : kErrorInvalidParameter;
        return false;
    }
    return true;
}

bool File::Truncate(std::int64_t length) {
    if (!IsOpen() || length < 0) {
        m_error = kErrorInvalidParameter;
        return false;
    }
    LARGE_INTEGER position{};
    position.QuadPart = length;
    // The end moves to length; later writes continue from there, as after ftruncate on a fresh file.
    if (!::SetFilePointerEx(AsHandle(m_handle), position, nullptr, FILE_BEGIN) || !::SetEndOfFile(AsHandle(m_handle))) {
        m_error = win32::LastError();
        return false;
    }
    return true;
}

bool File::Close() {
    if (!IsOpen()) {
        return true;
    }
    if (!::CloseHandle(AsHandle(std::exchange(m_handle, -1)))) {
        m_error = win32::LastError();
        return false;
    }
    return true;
}

}  // namespace platform
