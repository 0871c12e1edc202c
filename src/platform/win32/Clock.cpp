#include "platform/Clock.h"

#include <time.h>

namespace platform {

std::tm LocalTime(std::time_t time) {
    std::tm local{};
    ::localtime_s(&local, &time);
    return local;
}

std::int64_t UtcOffsetAt(std::int64_t utcSeconds) {
    const auto t = static_cast<std::time_t>(utcSeconds);
    std::tm local{};
    if (::localtime_s(&local, &t) != 0) {
        return 0;
    }
    // The local calendar fields read back as if they were UTC: the difference is the offset.
    return static_cast<std::int64_t>(::_mkgmtime(&local)) - utcSeconds;
}

}  // namespace platform
