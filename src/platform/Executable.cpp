#include "platform/Executable.h"

namespace platform {
namespace {

#ifdef _WIN32
constexpr const char* kSeparators = "\\/";  // Windows takes either
#else
constexpr const char* kSeparators = "/";
#endif

}  // namespace

std::string BaseNameWithoutExtension(const std::string& path) {
    const auto separator = path.find_last_of(kSeparators);
    std::string name = separator == std::string::npos ? path : path.substr(separator + 1);
    const auto dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) {
        name.erase(dot);
    }
    return name;
}

std::string ApplicationName() { return BaseNameWithoutExtension(ExecutablePath()); }

}  // namespace platform
