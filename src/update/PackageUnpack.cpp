// Unpacking the game package into the client folder and completing the install. Runs on the
// update worker.

#include <fmt/printf.h>

#include "core/DataPaths.h"
#include "core/Logger.h"
#include "core/Reports.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "update/CGameRemoteConfig.h"
#include "update/DownloadPlan.h"
#include "update/UpdateWindow.h"
#include "update/ZipReader.h"

namespace {

constexpr const char* kOnUnzipFile = "CGameRemoteConfig::OnUnzipFile";
constexpr const char* kUnzipFile = "CGameRemoteConfig::UnzipFile";
constexpr unsigned kCopyBuffer = 8192;

// Streams the current entry into target; false on any read, write or checksum failure.
bool ExtractCurrentEntry(ZipReader& zip, const std::string& target, bool executable) {
    if (!zip.OpenCurrent()) {
        return false;
    }
    platform::File out(target, platform::File::Mode::Truncate, executable ? 0755 : 0644);
    if (!out.IsOpen()) {
        return false;
    }
    char buffer[kCopyBuffer];
    for (;;) {
        const int n = zip.ReadCurrent(buffer, sizeof buffer);
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        // A file cut short by a full disk is no installed file.
        if (out.Write(buffer, static_cast<size_t>(n)) != static_cast<size_t>(n)) {
            return false;
        }
    }
    return out.Close() && zip.CloseCurrent();
}

}  // namespace

bool CGameRemoteConfig::OnUnzipFile(const std::string& path, MainWindow* window) {
    LOG_INFO(kOnUnzipFile, fmt::sprintf("unzip file:%s begin", path));
    Reports().Log("game unzip start");

    ZipReader zip(path);
    if (!zip.IsOpen()) {
        LOG_ERROR(kOnUnzipFile, "zipfile is NULL!");
        return false;
    }
    std::uint64_t count = 0;
    if (!zip.EntryCount(count)) {
        zip.Close();
        LOG_ERROR(kOnUnzipFile, "unzGetGlobalInfo is error!");
        return false;
    }
    const std::string clientDir = ClientDir();
    for (std::uint64_t done = 1; done <= count; ++done) {
        ZipReader::Entry entry;
        if (!zip.CurrentEntry(entry)) {
            return false;
        }
        LOG_INFO(kOnUnzipFile, entry.name);
        if (!IsContainedEntryName(entry.name)) {
            LOG_ERROR(kOnUnzipFile, fmt::sprintf("entry outside the client folder refused: %s", entry.name));
            return false;
        }
        const std::string target = fmt::sprintf("%s/%s", clientDir, entry.name);
        if (entry.isDirectory) {
            // One level; a folder that exists already is fine, and a real failure shows up
            // when the first file inside it cannot be created.
            platform::CreateDirectoryOneLevel(target.substr(0, target.size() - 1));
        } else if (!ExtractCurrentEntry(zip, target, entry.executable)) {
            return false;
        }
        zip.CloseCurrent();
        if (done < count && !zip.Next()) {
            return false;
        }
        const UnpackProgress progress = ComputeUnpackProgress(done, count);
        ShowProgress(window, progress.text, progress.percent, 0);
    }
    zip.Close();
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
