#include "platform/Registry.h"

#include <cstring>
#include <vector>

#include "platform/ErrorCodes.h"
#include "platform/win32/Wide.h"

namespace platform {
namespace {

HKEY Root(RegistryHive hive) { return hive == RegistryHive::CurrentUser ? HKEY_CURRENT_USER : HKEY_CLASSES_ROOT; }

// A RegistryKey names its key; each operation opens it for just what it does.
class OpenKey {
public:
    OpenKey(const RegistryKey& key, REGSAM access) {
        m_result = key.open ? static_cast<std::uint32_t>(::RegOpenKeyExW(Root(key.hive), win32::Widen(key.path).c_str(),
                                                                          0, access, &m_key))
                            : kErrorInvalidParameter;
    }
    ~OpenKey() {
        if (m_result == 0) {
            ::RegCloseKey(m_key);
        }
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;

    // A key that went away since it was opened reads as the system's "key deleted".
    std::uint32_t result() const { return m_result == kErrorFileNotFound ? kErrorKeyDeleted : m_result; }
    HKEY get() const { return m_key; }

private:
    HKEY m_key = nullptr;
    std::uint32_t m_result = 0;
};

std::uint32_t SetValue(const RegistryKey& key, const std::string& name, DWORD type, const void* data, DWORD size) {
    OpenKey open(key, KEY_SET_VALUE);
    if (open.result() != 0) {
        return open.result();
    }
    return static_cast<std::uint32_t>(
        ::RegSetValueExW(open.get(), win32::Widen(name).c_str(), 0, type, static_cast<const BYTE*>(data), size));
}

}  // namespace

std::uint32_t RegCreateKeyEx(RegistryHive hive, const std::string& subKey, RegistryKey& key, bool* created) {
    if (subKey.empty()) {
        return kErrorInvalidParameter;
    }
    HKEY handle = nullptr;
    DWORD disposition = 0;
    const LSTATUS rc = ::RegCreateKeyExW(Root(hive), win32::Widen(subKey).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                         KEY_READ | KEY_WRITE, nullptr, &handle, &disposition);
    if (rc != ERROR_SUCCESS) {
        return static_cast<std::uint32_t>(rc);
    }
    ::RegCloseKey(handle);
    key = {hive, subKey, true};
    if (created != nullptr) {
        *created = disposition == REG_CREATED_NEW_KEY;
    }
    return kErrorSuccess;
}

std::uint32_t RegOpenKeyEx(RegistryHive hive, const std::string& subKey, RegistryKey& key) {
    HKEY handle = nullptr;
    const LSTATUS rc = ::RegOpenKeyExW(Root(hive), win32::Widen(subKey).c_str(), 0, KEY_READ, &handle);
    if (rc != ERROR_SUCCESS) {
        return static_cast<std::uint32_t>(rc);
    }
    ::RegCloseKey(handle);
    key = {hive, subKey, true};
    return kErrorSuccess;
}

std::uint32_t RegSetStringValue(const RegistryKey& key, const std::string& name, const std::string& data) {
    // The text with its terminating NUL, as the system stores a REG_SZ.
    const std::wstring wide = win32::Widen(data);
    return SetValue(key, name, REG_SZ, wide.c_str(), static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
}

std::uint32_t RegSetDwordValue(const RegistryKey& key, const std::string& name, std::uint32_t data) {
    const DWORD value = data;
    return SetValue(key, name, REG_DWORD, &value, sizeof(value));
}

std::uint32_t RegQueryValueEx(const RegistryKey& key, const std::string& name, RegistryValue& value) {
    OpenKey open(key, KEY_QUERY_VALUE);
    if (open.result() != 0) {
        return open.result() == kErrorKeyDeleted ? kErrorFileNotFound : open.result();
    }
    const std::wstring wideName = win32::Widen(name);
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS rc = ::RegQueryValueExW(open.get(), wideName.c_str(), nullptr, &type, nullptr, &size);
    std::vector<BYTE> data;
    // The value may grow between the two calls: ask again with the size it has then.
    while (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
        data.assign(size + sizeof(wchar_t), 0);
        DWORD got = size;
        rc = ::RegQueryValueExW(open.get(), wideName.c_str(), nullptr, &type, data.data(), &got);
        if (rc == ERROR_SUCCESS) {
            size = got;
            break;
        }
        if (rc == ERROR_MORE_DATA) {
            size = got;
        }
    }
    if (rc != ERROR_SUCCESS) {
        return static_cast<std::uint32_t>(rc);
    }
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD number = 0;
        std::memcpy(&number, data.data(), sizeof(number));
        value = {kRegDword, {}, number};
        return kErrorSuccess;
    }
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
        if (const auto end = text.find(L'\0'); end != std::wstring::npos) {
            text.erase(end);
        }
        value = {kRegSz, win32::Narrow(text), 0};
        return kErrorSuccess;
    }
    return kErrorInvalidParameter;  // a type the launcher never writes
}

std::uint32_t RegDeleteValue(const RegistryKey& key, const std::string& name) {
    OpenKey open(key, KEY_SET_VALUE);
    if (open.result() != 0) {
        return open.result() == kErrorKeyDeleted ? kErrorFileNotFound : open.result();
    }
    return static_cast<std::uint32_t>(::RegDeleteValueW(open.get(), win32::Widen(name).c_str()));
}

std::uint32_t RegDeleteKey(RegistryHive hive, const std::string& subKey) {
    if (subKey.empty()) {
        return kErrorInvalidParameter;
    }
    return static_cast<std::uint32_t>(::RegDeleteKeyW(Root(hive), win32::Widen(subKey).c_str()));
}

void RegCloseKey(RegistryKey& key) { key.open = false; }

// The registry is the system's, not a file of the launcher's: nothing to remove.
void RemoveRegistryStoreIfEmpty() {}

}  // namespace platform
