#pragma once
// Local time, from the system's time zone.

#include <cstdint>
#include <ctime>

namespace platform {

// The calendar time as local date and time.
std::tm LocalTime(std::time_t time);

// Seconds that local time is ahead of UTC at the moment utcSeconds (since 1970); 0 when the
// system cannot tell.
std::int64_t UtcOffsetAt(std::int64_t utcSeconds);

}  // namespace platform
