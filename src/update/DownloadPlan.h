#pragma once
// The decisions of a package download, kept apart from the steps that carry them out: where an
// attempt starts, and what the progress display shows for a transfer's counts.

#include <cstdint>
#include <string>

#include "update/LocalClientVersion.h"

enum class StartingPoint {
    RestartOlderThanMinimum,  // the bytes on disk belong to a version that must be updated anyway
    Resume,                   // continue the unfinished transfer of the offered version
    RestartOtherVersion,      // unfinished, but of another version than the one offered
    UnpackHeldPackage,        // nothing unfinished: try the package on disk, download on failure
};

struct DownloadState {
    LocalClientVersion downloadVersion;  // of the package bytes on disk
    LocalClientVersion miniUpdateVersion;
    LocalClientVersion clientVersion;    // offered by the server
    std::int64_t resumeOffset = 0;
    std::int64_t totalSize = 0;
};

StartingPoint ChooseStartingPoint(const DownloadState& state);

struct DownloadProgress {
    std::int64_t offset = 0;  // package bytes held: resume offset + bytes received
    std::int64_t total = 0;   // resume offset + the transfer's announced size
    int percent = 0;          // 0 to 100
    std::string text;         // "%d%%"
    bool sizeKnown = false;   // false while the transfer has not announced its size
};

// What a transfer that resumed at resumeOffset has reached after receiving received of
// announced bytes (announced 0: not known yet, which shows 0%). More than announced stays 100%.
DownloadProgress ComputeDownloadProgress(std::int64_t resumeOffset, std::int64_t received, std::int64_t announced);

// "%d/%d" and (100 * done) / count for the unpacking of entry done (from 1) of count.
struct UnpackProgress {
    std::string text;
    int percent = 0;
};
UnpackProgress ComputeUnpackProgress(std::uint64_t done, std::uint64_t count);
