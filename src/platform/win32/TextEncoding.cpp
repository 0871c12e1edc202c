#include "platform/TextEncoding.h"

#include "platform/win32/Wide.h"

namespace platform {

std::optional<std::string> GbkToUtf8(std::string_view text) {
    if (text.empty()) {
        return std::string();
    }
    constexpr UINT kGbk = 936;
    const int size = static_cast<int>(text.size());
    // MB_ERR_INVALID_CHARS: an undefined sequence fails the call instead of becoming a default character.
    const int units = ::MultiByteToWideChar(kGbk, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (units <= 0) {
        win32::LastError();
        return std::nullopt;
    }
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    if (::MultiByteToWideChar(kGbk, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), units) != units) {
        win32::LastError();
        return std::nullopt;
    }
    return win32::Narrow(wide);
}

}  // namespace platform
