// One download attempt of the game package (CGameRemoteConfig::OnDownLoad) and what it does
// with the bytes as they come. Everything here runs on the update worker, the sink's calls
// inside HttpGet.

#include <fmt/printf.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

#include "core/DataPaths.h"
#include "core/Logger.h"
#include "core/Reports.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "update/CGameRemoteConfig.h"
#include "update/DownloadPlan.h"
#include "update/PackageIntegrity.h"
#include "update/UpdateWindow.h"

namespace {

constexpr const char* kOnDownLoad = "CGameRemoteConfig::OnDownLoad";

bool IsPackageStatus(long status) { return status == 200 || status == 206; }

}  // namespace

// One package transfer: appends the body to the package, hashes it, keeps the resume record
// and the progress going. Lives on the worker's stack for the transfer; everything in it is the
// worker's (its calls come inside HttpGet), except that the recorder thread sets recorderDone.
struct CGameRemoteConfig::PackageTransfer final : HttpGetSink {
    PackageTransfer(CGameRemoteConfig* config_, MainWindow* window_, platform::File* package_,
                    std::string packagePath_, PackageDigest* digest_)
        : config(config_), window(window_), package(package_), packagePath(std::move(packagePath_)),
          digest(digest_) {}

    bool OnAnswer(long status, std::int64_t announcedLength) override;
    std::size_t OnBody(const char* data, std::size_t size) override;
    void OnProgress(std::int64_t received, std::int64_t announcedLength) override;

    CGameRemoteConfig* config;
    MainWindow* window;
    platform::File* package;
    std::string packagePath;
    PackageDigest* digest;     // null when no check needs the package's digest
    std::int64_t written = 0;  // bytes this transfer appended to the package
    bool accepted = false;     // the answer is a 200 or 206 whose body is package data
    long refusedStatus = 0;    // the status of an answer whose body was refused
    std::string writeFailure;  // why the package file took fewer bytes than it was given
    std::int64_t recordedWritten = 0;
    std::chrono::steady_clock::time_point recordedAt = std::chrono::steady_clock::now();
    // Flushing the package to the disk takes as long as the disk needs; the download goes on
    // meanwhile and the record follows the flush on this thread. At most one runs at a time.
    std::thread recorder;
    std::atomic<bool> recorderDone{true};

    ~PackageTransfer() { JoinRecorder(); }
    void JoinRecorder() {
        if (recorder.joinable()) {
            recorder.join();
        }
    }
};

int CGameRemoteConfig::OnDownLoad(MainWindow* window) {
    LOG_INFO(kOnDownLoad, "OnDownLoad begin");
    if (window == nullptr) {
        LOG_ERROR(kOnDownLoad, "lpParameter is NULL!");
        return kDownloadConfigIncomplete;
    }
    const std::string packagePath = DataPaths::Package(DataDir());
    LOG_INFO(kOnDownLoad, packagePath);

    std::string primaryTemplate;
    if (!FindConfigValue(m_settings.is64Bit ? "ClientDownloadUrl" : "Client32DownloadUrl", primaryTemplate)) {
        LOG_ERROR(kOnDownLoad, "ClientDownloadUrl is NotFound!");
        return kDownloadConfigIncomplete;
    }
    std::string versionText;
    if (!FindConfigValue("ClientVersion", versionText)) {
        LOG_ERROR(kOnDownLoad, "ClientVersion is NotFound!");
        return kDownloadConfigIncomplete;
    }
    const std::string primary = FillAddressTemplate(primaryTemplate, ProductConstants::kDitchName, versionText);
    LOG_INFO(kOnDownLoad, primary);
    std::string backup;
    if (std::string backupTemplate; FindConfigValue("ClientDownloadUrl2", backupTemplate)) {
        backup = FillAddressTemplate(backupTemplate, ProductConstants::kDitchName, versionText);
        LOG_INFO(kOnDownLoad, backup);
    } else {
        LOG_ERROR(kOnDownLoad, "ClientDownloadUrl2 is NotFound!");
    }
    Reports().LogEvent(EventDownloadStart);
    Reports().Log("game download start, download url:" + primary);

    // The first attempt takes the primary address, the second the backup. An attempt without
    // an address stops before it touches the package: the bytes held stay for the next run.
    const int attempt = m_nDownloadAttempts + 1;
    if (attempt != 1 && (attempt != 2 || backup.empty())) {
        return kDownloadNoAddress;
    }
    const std::string& address = attempt == 1 ? primary : backup;

    bool restart = true;
    switch (ChooseStartingPoint({DownloadVersion(), m_miniUpdateVersion, m_clientVersion, m_nResumeOffset,
                                 m_nTotalSize.load()})) {
        case StartingPoint::RestartOlderThanMinimum:
            LOG_INFO(kOnDownLoad, "Download version is elder than mini update version. Restart downloading resources.");
            break;
        case StartingPoint::Resume:
            LOG_INFO(kOnDownLoad, "Try Resuming download from break point.");
            restart = false;
            break;
        case StartingPoint::RestartOtherVersion:
            LOG_INFO(kOnDownLoad, "Try Resuming download from break point.");
            LOG_INFO(kOnDownLoad,
                     "Could not resume from break point because of the different version between local machine and "
                     "remote server...");
            break;
        case StartingPoint::UnpackHeldPackage:
            LOG_INFO(kOnDownLoad, "Try unzipping old resource...");
            // A held package is checked like a downloaded one; one that fails is deleted here.
            if ((!PackageNeedsChecking() || !platform::PathExists(packagePath) || PackageChecksOut(packagePath, {})) &&
                UnzipFile(packagePath, window)) {
                LOG_INFO(kOnDownLoad, "Unzip success!");
                return kDownloadFinished;
            }
            if (LastUnpackFailure() == UnpackFailure::LocalDisk) {
                // The disk refused the files, not the package: downloading it again cannot help,
                // so it waits on disk for a run after the disk has been put right.
                ShowMessage(window, "解压失败,ErrorCode:104");
                LOG_INFO(kOnDownLoad, "unzip is error!");
                Reports().Log("unzip failed");
                return kDownloadFinished;
            }
            LOG_INFO(kOnDownLoad, "Unzip failed, and restart downloading game resource!");
            break;
    }
    if (restart) {
        m_nResumeOffset = 0;
        if (platform::PathExists(packagePath)) {
            platform::DeleteFile(packagePath);
        }
    }

    platform::File package(packagePath, platform::File::Mode::Append);
    // The file must hold exactly the bytes before the offset asked of the server: bytes of an
    // earlier failed attempt beyond it would be followed by the same bytes again, and a file
    // shorter than the offset (removed or cut by hand) can only continue from its own end.
    if (package.IsOpen()) {
        const std::int64_t held = package.Size();
        if (held >= 0 && held < m_nResumeOffset) {
            m_nResumeOffset = held;
        }
        if (held != m_nResumeOffset && !package.Truncate(m_nResumeOffset)) {
            package.Close();
        }
    }
    if (!package.IsOpen()) {
        LOG_ERROR(kOnDownLoad, "install_dir is NULL!");
        return kDownloadPackageUnwritable;
    }
    m_nOffset = m_nResumeOffset;

    ++m_nDownloadAttempts;
    SetDownloadVersion(m_clientVersion);  // the resume record now names the version being fetched

    // The digest covers the whole file: the part kept from earlier runs first, then what comes.
    std::optional<PackageDigest> digest;
    if (PackageNeedsChecking()) {
        digest.emplace();
        digest->UpdateFromFile(packagePath, m_nResumeOffset);
    }
    PackageTransfer transfer{this, window, &package, packagePath, digest ? &*digest : nullptr};
    HttpGetRequest request;
    request.url = address;
    request.resumeFrom = m_nResumeOffset;
    request.failOnErrorStatus = true;  // an error answer's body is no package data (its status is the failure)
    request.connectSeconds = m_settings.connectTimeoutSeconds;
    request.stallSeconds = m_settings.stallTimeoutSeconds;
    const HttpGetOutcome outcome = HttpGet(request, transfer);
    if (!outcome.started) {
        LOG_ERROR(kOnDownLoad, "curl is NULL!");
        package.Close();
        return kDownloadConfigIncomplete;
    }

    if (outcome.transferred && IsPackageStatus(outcome.status)) {
        RecordTransfer(transfer, /*force=*/true);  // a crash from here on finds the package whole
        package.Close();
        Reports().LogEvent(EventUnzipStart);
        Reports().Log("game download success");
        LOG_INFO(kOnDownLoad, "download is finish");
        if (digest && !PackageChecksOut(packagePath, digest->FinishHex())) {
            ShowMessage(window, "解压失败,ErrorCode:104");
            return kDownloadFinished;
        }
        if (!UnzipFile(packagePath, window)) {
            ShowMessage(window, "解压失败,ErrorCode:104");
            LOG_INFO(kOnDownLoad, "unzip is error!");
            Reports().Log("unzip failed");
        }
        return kDownloadFinished;
    }

    std::string cause = outcome.description;
    if (transfer.refusedStatus != 0) {
        cause += fmt::sprintf("; the body of the %d answer was not taken as package data", transfer.refusedStatus);
    }
    if (!transfer.writeFailure.empty()) {
        cause += "; " + transfer.writeFailure;
    }
    LOG_ERROR(kOnDownLoad, fmt::sprintf("package download failed: %s: %s", address, cause));
    LOG_INFO(kOnDownLoad, "download is error!");
    Reports().Log("game download failed");
    RecordTransfer(transfer, /*force=*/true);  // what did arrive stays usable after a crash
    // A server that cannot continue from the offset (it sends the whole file, or says the
    // range cannot be satisfied) would refuse every later run the same way: start over instead.
    if (m_nResumeOffset > 0 && (outcome.rangeRefused || outcome.status == 416)) {
        LOG_INFO(kOnDownLoad, "The server refused to resume from break point. The next download starts from the beginning.");
        m_nResumeOffset = 0;
        m_nOffset = 0;
        m_nTotalSize = 0;
        WriteResumeRecord();  // an earlier record would send the next run to the same refusal
    }
    package.Close();
    return m_nDownloadAttempts == 1 ? kDownloadFirstAttemptFailed : kDownloadNoAddress;
}

bool CGameRemoteConfig::PackageTransfer::OnAnswer(long status, std::int64_t announcedLength) {
    // Only the body of a 200 or 206 is package data.
    if (!IsPackageStatus(status)) {
        refusedStatus = status;
        return false;
    }
    accepted = true;
    if (announcedLength >= 0) {
        config->m_nTotalSize = config->m_nResumeOffset + announcedLength;  // the record's size from the first byte on
    }
    return true;
}

std::size_t CGameRemoteConfig::PackageTransfer::OnBody(const char* data, std::size_t size) {
    if (package == nullptr || !package->IsOpen()) {
        return 0;
    }
    errno = 0;
    const size_t taken = package->Write(data, size);
    if (taken < size) {
        writeFailure = fmt::sprintf("writing %s failed: %s", packagePath,
                                    errno != 0 ? std::strerror(errno) : "no space left on device");
    }
    if (digest != nullptr) {
        digest->Update(data, taken);
    }
    written += static_cast<std::int64_t>(taken);
    config->m_nOffset = config->m_nResumeOffset + written;
    config->RecordTransfer(*this, /*force=*/false);
    return taken;
}

void CGameRemoteConfig::PackageTransfer::OnProgress(std::int64_t received, std::int64_t announcedLength) {
    const DownloadProgress reached = ComputeDownloadProgress(config->m_nResumeOffset, received, announcedLength);
    // Until the size is announced the record keeps the size it knows: a resume record that
    // says "all of it" would make the next run give up the bytes on disk.
    if (reached.sizeKnown) {
        config->m_nTotalSize = reached.total;
    }
    // Comes about once a second even while nothing arrives: the time rule of the record.
    config->RecordTransfer(*this, /*force=*/false);
    ShowProgress(window, reached.text, reached.percent, 1);
}

void CGameRemoteConfig::RecordTransfer(PackageTransfer& transfer, bool force) {
    if (force) {
        transfer.JoinRecorder();  // nothing of this transfer may land after what follows it
    }
    const auto now = std::chrono::steady_clock::now();
    const std::int64_t fresh = transfer.written - transfer.recordedWritten;
    if (fresh <= 0 || (!force && fresh < kRecordEveryBytes &&
                       now - transfer.recordedAt < std::chrono::milliseconds(kRecordEveryMilliseconds))) {
        return;
    }
    if (!force && !transfer.recorderDone) {
        return;  // the previous flush is still under way; the next call tries again
    }
    transfer.JoinRecorder();
    // The record may only name bytes that are on the disk: a power loss keeps the record (it is
    // written with a flush and a rename) and must find the package at least as long. Every byte
    // counted here has been written; the flush (of the file, through any descriptor) covers it.
    const std::int64_t offset = m_nOffset.load();
    const std::int64_t total = m_nTotalSize.load();
    const auto flushThenRecord = [this, path = transfer.packagePath, offset, total] {
        // A handle of its own (Windows flushes only through a writable one); nothing is written.
        platform::File package(path, platform::File::Mode::Append);
        if (package.IsOpen() && package.Flush()) {
            WriteResumeRecord(offset, total);
        }
    };
    transfer.recordedWritten = transfer.written;
    transfer.recordedAt = now;
    if (force) {
        flushThenRecord();
        return;
    }
    transfer.recorderDone = false;
    transfer.recorder = std::thread([flushThenRecord, &done = transfer.recorderDone] {
        flushThenRecord();
        done = true;
    });
}

bool CGameRemoteConfig::PackageNeedsChecking() const {
    std::string ignored;
    return !m_settings.packagePublicKey.empty() || FindConfigValue("ClientPackageSha256", ignored);
}

bool CGameRemoteConfig::PackageChecksOut(const std::string& path, std::string computedSha256) {
    std::optional<std::string> expected;
    std::optional<std::string> signature;
    if (std::string value; FindConfigValue("ClientPackageSha256", value)) {
        expected = value;
    }
    if (std::string value; FindConfigValue("ClientPackageSignature", value)) {
        signature = value;
    }
    if (computedSha256.empty() && expected) {
        computedSha256 = Sha256FileHex(path);
    }
    const PackageVerdict verdict = JudgePackage(expected, signature, m_settings.packagePublicKey, computedSha256);
    if (verdict.accepted) {
        return true;
    }
    // Nothing of it is unpacked, and the next run fetches it again.
    platform::DeleteFile(path);
    LOG_ERROR(kOnDownLoad, fmt::sprintf("%s: %s", path, verdict.problem));
    Reports().Log("game package check failed: " + verdict.problem);
    return false;
}
