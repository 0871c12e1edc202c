#pragma once
// The dump file's name, "<prefix>_YYYY_MM_DD_hh_mm_ss.dmp" in local time, formed inside a signal
// handler: the time zone is consulted only at installation, formatting allocates nothing.

#include <cstddef>
#include <cstdint>

struct CivilTime {
    std::int64_t year = 1970;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Seconds since 1970 as a calendar date and time of day (proleptic Gregorian calendar).
CivilTime CivilFromSeconds(std::int64_t seconds);

// The local time's offsets from UTC over a stretch of time, read from the C library's time zone
// once (at installation) so that a crash can form local time without touching it. Each change
// of offset in the stretch (daylight saving) is found to the second.
class UtcOffsets {
public:
    static constexpr std::int64_t kStretch = 2 * 366 * 86400;  // longer than any launcher run

    // Samples the time zone from `from` on for kStretch seconds.
    void Prepare(std::int64_t from);
    // The offset in seconds that applies at utc; before or after the stretch, the nearest known.
    std::int64_t At(std::int64_t utc) const;

private:
    static constexpr int kMaxChanges = 32;
    std::int64_t m_since[kMaxChanges + 1] = {};   // each offset applies from m_since[i] on
    std::int64_t m_offset[kMaxChanges + 1] = {};
    int m_count = 1;
};

// Writes "%s_%0.4d_%0.2d_%0.2d_%0.2d_%0.2d_%0.2d.dmp" filled with prefix and time into out,
// terminated. False, with out empty, when it does not fit in capacity bytes.
bool FormatDumpFileName(char* out, std::size_t capacity, const char* prefix, const CivilTime& time);
