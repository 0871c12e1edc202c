// Unpacking the game package into the client folder and completing the install. Runs on the
// update worker.
//
// The entries are written into a staging folder first (ClientStaging) and moved into the client
// folder only once every one of them checked out, so a package that fails halfway leaves the
// installed client as it was. Before anything is written the version file goes: whatever
// happens from here on, no later run takes the client for installed until an unpacking has
// completed and written it again.

#include <fmt/printf.h>

#include <algorithm>
#include <limits>

#include "core/DataPaths.h"
#include "core/Logger.h"
#include "core/Reports.h"
#include "platform/ErrorCodes.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "update/CGameRemoteConfig.h"
#include "update/ClientStaging.h"
#include "update/DownloadPlan.h"
#include "update/UpdateWindow.h"
#include "update/ZipReader.h"

namespace {

constexpr const char* kOnUnzipFile = "CGameRemoteConfig::OnUnzipFile";
constexpr const char* kUnzipFile = "CGameRemoteConfig::UnzipFile";
constexpr unsigned kCopyBuffer = 8192;

std::string EntryLabel(const std::string& archive, const std::string& entry) {
    return fmt::sprintf("%s [%s]", archive, entry);
}

// A file the local file system would not take. Names it cannot hold are the package's doing;
// anything else (space, permission, a path in the way) is the disk's.
UnpackFault WriteFault(const std::string& file, std::uint32_t error) {
    const bool badName = error == platform::kErrorFilenameTooLong || error == platform::kErrorInvalidName ||
                         error == platform::kErrorInvalidParameter;
    return {!badName, file, platform::LastErrorText()};
}

// Streams entry index into target; false with the fault on any read, write or checksum failure.
bool ExtractEntry(ZipReader& zip, std::uint64_t index, const std::string& label, const std::string& target,
                  bool executable, UnpackFault& fault) {
    if (!zip.OpenEntry(index)) {
        fault = {false, label, zip.ErrorText()};
        return false;
    }
    platform::File out(target, platform::File::Mode::Truncate, executable ? 0755 : 0644);
    if (!out.IsOpen()) {
        fault = WriteFault(target, out.Error());
        return false;
    }
    char buffer[kCopyBuffer];
    for (;;) {
        const std::int64_t n = zip.ReadEntry(buffer, sizeof buffer);
        if (n < 0) {
            fault = {false, label, zip.ErrorText()};
            return false;
        }
        if (n == 0) {
            break;
        }
        if (out.Write(buffer, static_cast<size_t>(n)) != static_cast<size_t>(n)) {
            fault = WriteFault(target, out.Error());
            return false;
        }
    }
    if (!out.Close()) {  // some file systems report a full disk only here
        fault = WriteFault(target, out.Error());
        return false;
    }
    zip.CloseEntry();
    return true;
}

// The room the package's files take on a file system of the given block size, each file in
// whole blocks. A central directory may declare absurd sizes: the sum saturates.
std::uint64_t SpaceNeeded(ZipReader& zip, std::uint64_t count, std::uint64_t blockSize) {
    const std::uint64_t block = std::max<std::uint64_t>(blockSize, 1);
    std::uint64_t total = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint64_t size = 0;
        if (!zip.DeclaredSize(i, size)) {
            continue;  // the entry's own turn reports it
        }
        const std::uint64_t blocks = size / block + (size % block != 0 ? 1 : 0);
        const std::uint64_t bytes = blocks > std::numeric_limits<std::uint64_t>::max() / block
                                        ? std::numeric_limits<std::uint64_t>::max()
                                        : blocks * block;
        total = bytes > std::numeric_limits<std::uint64_t>::max() - total
                    ? std::numeric_limits<std::uint64_t>::max()
                    : total + bytes;
    }
    return total;
}

}  // namespace

bool CGameRemoteConfig::UnpackFailed(const UnpackFault& fault) {
    m_unpackFailure = fault.localDisk ? UnpackFailure::LocalDisk : UnpackFailure::Archive;
    LOG_ERROR(kOnUnzipFile, fmt::sprintf("unzip error: %s: %s", fault.file, fault.cause));
    return false;
}

bool CGameRemoteConfig::OnUnzipFile(const std::string& path, MainWindow* window) {
    m_unpackFailure = UnpackFailure::None;
    LOG_INFO(kOnUnzipFile, fmt::sprintf("unzip file:%s begin", path));
    Reports().Log("game unzip start");

    ZipReader zip(path);
    if (!zip.IsOpen()) {
        LOG_ERROR(kOnUnzipFile, "zipfile is NULL!");
        return UnpackFailed({false, path, zip.ErrorText()});
    }
    std::uint64_t count = 0;
    if (!zip.EntryCount(count)) {
        LOG_ERROR(kOnUnzipFile, "unzGetGlobalInfo is error!");
        return UnpackFailed({false, path, zip.ErrorText()});
    }

    const std::string clientDir = ClientDir();
    const std::string versionFile = DataPaths::GameVersionFile(clientDir);
    if (const std::uint32_t error = platform::DeleteFile(versionFile);
        error != platform::kErrorSuccess && error != platform::kErrorFileNotFound &&
        error != platform::kErrorPathNotFound) {
        // A read-only client folder, or a folder in the version file's place.
        return UnpackFailed({true, versionFile, platform::LastErrorText()});
    }

    ClientStaging staging(DataDir(), clientDir);
    UnpackFault fault;
    if (!staging.Begin(fault)) {
        return UnpackFailed(fault);
    }
    if (const auto space = m_settings.freeSpace(staging.Folder())) {
        const std::uint64_t needed = SpaceNeeded(zip, count, space->blockSize);
        if (needed > space->freeBytes) {
            return UnpackFailed(
                {true, staging.Folder(),
                 fmt::sprintf("the package unpacks to %d bytes and the disk has %d bytes free", needed,
                              space->freeBytes)});
        }
    }

    for (std::uint64_t done = 1; done <= count; ++done) {
        const std::uint64_t index = done - 1;
        ZipReader::Entry entry;
        if (!zip.GetEntry(index, entry)) {
            return UnpackFailed({false, EntryLabel(path, fmt::sprintf("entry %d", done)), zip.ErrorText()});
        }
        LOG_INFO(kOnUnzipFile, entry.name);
        if (!IsContainedEntryName(entry.name)) {
            LOG_ERROR(kOnUnzipFile, fmt::sprintf("entry outside the client folder refused: %s", entry.name));
            m_unpackFailure = UnpackFailure::Archive;
            return false;
        }
        // Archives made on Windows may separate folders with backslashes.
        std::string relative = entry.name;
        std::replace(relative.begin(), relative.end(), '\\', '/');
        if (entry.isDirectory) {
            relative.erase(relative.find_last_not_of('/') + 1);
            staging.AddFolder(relative);
        } else if (const auto target = staging.FilePath(relative, fault);
                   !target || !ExtractEntry(zip, index, EntryLabel(path, entry.name), *target,
                                            entry.executable, fault)) {
            return UnpackFailed(fault);
        }
        const UnpackProgress progress = ComputeUnpackProgress(done, count);
        ShowProgress(window, progress.text, progress.percent, 0);
    }
    if (!staging.Commit(fault)) {
        return UnpackFailed(fault);
    }
    LOG_INFO(kOnUnzipFile, "unzip is finish!");
    Reports().LogEvent(EventUnzipFinish);
    Reports().Log("game unzip success");
    return true;
}

bool CGameRemoteConfig::UnzipFile(const std::string& path, MainWindow* window) {
    if (!OnUnzipFile(path, window)) {
        return false;  // the package stays for the next attempt to judge
    }
    platform::DeleteFile(path);
    SetRegisties();

    const std::string exe = ExecutablePath();
    LOG_INFO(kUnzipFile, exe);
    if (const std::uint32_t error = CopyLauncher(DataPaths::LauncherCopy(DataDir()))) {
        LOG_ERROR(kUnzipFile, fmt::sprintf("CopyFile ret:%d", error));
    } else {
        CreateShortcuts();
    }
    WriteVersionFile();
    ShowMessage(window, "更新已完成");
    window->SetReady();
    LOG_INFO(kUnzipFile, "unzip is finish!");
    return true;
}
