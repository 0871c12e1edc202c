#include "platform/Clock.h"

namespace platform {

std::tm LocalTime(std::time_t time) {
    std::tm local{};
    ::localtime_r(&time, &local);
    return local;
}

std::int64_t UtcOffsetAt(std::int64_t utcSeconds) {
    const auto t = static_cast<std::time_t>(utcSeconds);
    std::tm local{};
    if (::localtime_r(&t, &local) == nullptr) {
        return 0;
    }
    return local.tm_gmtoff;
}

}  // namespace platform
