#pragma once
// The download resume record "tempdownload.dat": three LF-ended lines that carry an unfinished
// package download from one launcher run to the next.

#include <cstdint>
#include <string>
#include <string_view>

#include "update/LocalClientVersion.h"

// "downloadVersion=%d.%d.%d.%d\noffset=%lld\ntotalSize=%lld\n"
std::string FormatResumeRecord(const LocalClientVersion& downloadVersion, std::int64_t offset,
                               std::int64_t totalSize);

// The value stored under key in the record's content, or empty text. Lines are read as the
// record has always been read: a CR before an LF is dropped; a line longer than 99 characters
// ends the reading; the text before the first "=" (the whole line without one) is the key and
// the text after it (again the whole line without one) the value; the first match wins.
std::string FindResumeValue(std::string_view content, std::string_view key);
