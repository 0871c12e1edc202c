#include "platform/TextEncoding.h"

#include <iconv.h>

namespace platform {

std::optional<std::string> GbkToUtf8(std::string_view text) {
    const iconv_t cd = ::iconv_open("UTF-8", "CP936");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return std::nullopt;
    }
    // Every GBK byte becomes at most three bytes of UTF-8 (0x80 alone is the euro sign).
    std::string out(text.size() * 3 + 1, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* to = out.data();
    size_t outLeft = out.size();
    const size_t rc = ::iconv(cd, &in, &inLeft, &to, &outLeft);
    ::iconv_close(cd);
    if (rc == static_cast<size_t>(-1) || inLeft != 0) {
        return std::nullopt;  // EILSEQ or a sequence cut at the end
    }
    out.resize(out.size() - outLeft);
    return out;
}

}  // namespace platform
