#include "update/DownloadPlan.h"

#include <fmt/printf.h>

#include <limits>

StartingPoint ChooseStartingPoint(const DownloadState& state) {
    if (state.downloadVersion < state.miniUpdateVersion) {
        return StartingPoint::RestartOlderThanMinimum;
    }
    if (0 < state.resumeOffset && state.resumeOffset < state.totalSize) {
        return state.downloadVersion == state.clientVersion ? StartingPoint::Resume
                                                            : StartingPoint::RestartOtherVersion;
    }
    return StartingPoint::UnpackHeldPackage;
}

DownloadProgress ComputeDownloadProgress(std::int64_t resumeOffset, std::int64_t received, std::int64_t announced) {
    DownloadProgress progress;
    progress.offset = resumeOffset + received;
    progress.total = resumeOffset + announced;
    progress.sizeKnown = announced != 0;
    if (progress.sizeKnown && progress.total > 0) {
        constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max() / 100;
        // offset * 100 would overflow only for sizes no server sends; stay defined even then.
        const std::int64_t percent = progress.offset <= kLargest ? progress.offset * 100 / progress.total
                                                                 : progress.offset / (progress.total / 100 + 1);
        progress.percent = percent > 100 ? 100 : static_cast<int>(percent < 0 ? 0 : percent);
    }
    progress.text = fmt::sprintf("%d%%", progress.percent);
    return progress;
}

UnpackProgress ComputeUnpackProgress(std::uint64_t done, std::uint64_t count) {
    UnpackProgress progress;
    progress.text = fmt::sprintf("%d/%d", done, count);
    progress.percent = count == 0 ? 0 : static_cast<int>(100 * done / count);
    return progress;
}
