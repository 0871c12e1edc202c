#include "core/CrashDumpName.h"

#include "platform/Clock.h"

namespace {

std::int64_t FloorDivide(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

std::int64_t OffsetFromTimeZone(std::int64_t utc) { return platform::UtcOffsetAt(utc); }

// Appends value in decimal with at least minDigits digits (printf's "%0.Nd": the precision pads
// the digits, a minus sign comes before them).
bool AppendNumber(char*& out, const char* end, std::int64_t value, int minDigits) {
    char digits[24];
    int count = 0;
    const bool negative = value < 0;
    std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    while (count < minDigits) {
        digits[count++] = '0';
    }
    if (end - out < count + (negative ? 1 : 0)) {
        return false;
    }
    if (negative) {
        *out++ = '-';
    }
    while (count > 0) {
        *out++ = digits[--count];
    }
    return true;
}

bool AppendText(char*& out, const char* end, const char* text) {
    for (; *text != '\0'; ++text) {
        if (out == end) {
            return false;
        }
        *out++ = *text;
    }
    return true;
}

}  // namespace

CivilTime CivilFromSeconds(std::int64_t seconds) {
    const std::int64_t days = FloorDivide(seconds, 86400);
    const std::int64_t inDay = seconds - days * 86400;

    // Days since 1970-01-01 to a date, counting in 400-year eras that start on 1 March.
    const std::int64_t z = days + 719468;
    const std::int64_t era = FloorDivide(z, 146097);
    const std::int64_t dayOfEra = z - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;  // 0 = March

    CivilTime time;
    time.day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    time.month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    time.year = yearOfEra + era * 400 + (time.month <= 2 ? 1 : 0);
    time.hour = static_cast<int>(inDay / 3600);
    time.minute = static_cast<int>(inDay / 60 % 60);
    time.second = static_cast<int>(inDay % 60);
    return time;
}

void UtcOffsets::Prepare(std::int64_t from) {
    m_count = 1;
    m_since[0] = from;
    m_offset[0] = OffsetFromTimeZone(from);
    // Daily samples; where two differ, halve the day until the second of the change is found.
    constexpr std::int64_t kStep = 86400;
    for (std::int64_t at = from + kStep; at <= from + kStretch && m_count <= kMaxChanges; at += kStep) {
        const std::int64_t offset = OffsetFromTimeZone(at);
        if (offset == m_offset[m_count - 1]) {
            continue;
        }
        std::int64_t before = at - kStep;  // still the old offset
        std::int64_t after = at;           // already the new one
        while (after - before > 1) {
            const std::int64_t middle = before + (after - before) / 2;
            (OffsetFromTimeZone(middle) == offset ? after : before) = middle;
        }
        m_since[m_count] = after;
        m_offset[m_count] = offset;
        ++m_count;
    }
}

std::int64_t UtcOffsets::At(std::int64_t utc) const {
    int i = m_count - 1;
    while (i > 0 && utc < m_since[i]) {
        --i;
    }
    return m_offset[i];
}

bool FormatDumpFileName(char* out, std::size_t capacity, const char* prefix, const CivilTime& time) {
    if (capacity == 0) {
        return false;
    }
    char* p = out;
    const char* const end = out + capacity - 1;  // room for the terminator
    const bool fits = AppendText(p, end, prefix) && AppendText(p, end, "_") && AppendNumber(p, end, time.year, 4) &&
                      AppendText(p, end, "_") && AppendNumber(p, end, time.month, 2) && AppendText(p, end, "_") &&
                      AppendNumber(p, end, time.day, 2) && AppendText(p, end, "_") &&
                      AppendNumber(p, end, time.hour, 2) && AppendText(p, end, "_") &&
                      AppendNumber(p, end, time.minute, 2) && AppendText(p, end, "_") &&
                      AppendNumber(p, end, time.second, 2) && AppendText(p, end, ".dmp");
    *(fits ? p : out) = '\0';
    return fits;
}
