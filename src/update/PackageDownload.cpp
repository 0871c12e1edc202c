// One download attempt of the game package (CGameRemoteConfig::OnDownLoad) and its libcurl
// callbacks. Everything here runs on the update worker, the callbacks inside curl_easy_perform.

#include <fmt/printf.h>

#include <type_traits>

#include "core/DataPaths.h"
#include "core/Logger.h"
#include "core/Reports.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "update/CGameRemoteConfig.h"
#include "update/CurlHandle.h"
#include "update/DownloadPlan.h"
#include "update/UpdateWindow.h"

static_assert(std::is_same_v<curl_off_t, std::int64_t>, "the progress callback's counts are libcurl's");

namespace {

constexpr const char* kOnDownLoad = "CGameRemoteConfig::OnDownLoad";

}  // namespace

int CGameRemoteConfig::OnDownLoad(MainWindow* window) {
    LOG_INFO(kOnDownLoad, "OnDownLoad begin");
    if (window == nullptr) {
        LOG_ERROR(kOnDownLoad, "lpParameter is NULL!");
        return kDownloadConfigIncomplete;
    }
    const std::string packagePath = DataPaths::Package(DataDir());
    LOG_INFO(kOnDownLoad, packagePath);

    CurlHandle curl;
    if (!curl) {
        LOG_ERROR(kOnDownLoad, "curl is NULL!");
        return kDownloadConfigIncomplete;
    }
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
            if (UnzipFile(packagePath, window)) {
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

    TransferProgress progress{this, window};
    curl_easy_setopt(curl.get(), CURLOPT_URL, address.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &CGameRemoteConfig::PackageWriteCallback);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &package);
    curl_easy_setopt(curl.get(), CURLOPT_XFERINFOFUNCTION, &CGameRemoteConfig::DownloadProgressCallback);
    curl_easy_setopt(curl.get(), CURLOPT_XFERINFODATA, &progress);
    curl_easy_setopt(curl.get(), CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl.get(), CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(m_nResumeOffset));
    curl_easy_setopt(curl.get(), CURLOPT_BUFFERSIZE, 256L * 1024L);  // fewer, larger writes
    curl.LimitWaiting(m_settings.connectTimeoutSeconds, m_settings.stallTimeoutSeconds);
    const CURLcode res = curl_easy_perform(curl.get());
    long status = 0;
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);

    if (res == CURLE_OK && (status == 200 || status == 206)) {
        curl.Reset();
        package.Close();
        Reports().LogEvent(EventUnzipStart);
        Reports().Log("game download success");
        LOG_INFO(kOnDownLoad, "download is finish");
        if (!UnzipFile(packagePath, window)) {
            ShowMessage(window, "解压失败,ErrorCode:104");
            LOG_INFO(kOnDownLoad, "unzip is error!");
            Reports().Log("unzip failed");
        }
        return kDownloadFinished;
    }

    LOG_INFO(kOnDownLoad, "download is error!");
    Reports().Log("game download failed");
    // A server that cannot continue from the offset (it sends the whole file, or says the
    // range cannot be satisfied) would refuse every later run the same way: start over instead.
    if (m_nResumeOffset > 0 && (res == CURLE_RANGE_ERROR || status == 416)) {
        LOG_INFO(kOnDownLoad, "The server refused to resume from break point. The next download starts from the beginning.");
        m_nResumeOffset = 0;
        m_nOffset = 0;
        m_nTotalSize = 0;
    }
    curl.Reset();
    package.Close();
    return m_nDownloadAttempts == 1 ? kDownloadFirstAttemptFailed : kDownloadNoAddress;
}

size_t CGameRemoteConfig::PackageWriteCallback(char* data, size_t size, size_t count, void* userdata) {
    auto* package = static_cast<platform::File*>(userdata);
    if (package == nullptr || !package->IsOpen() || size == 0) {
        return 0;
    }
    // A short count makes libcurl end the transfer with a write error.
    return package->Write(data, size * count) / size;
}

int CGameRemoteConfig::DownloadProgressCallback(void* clientp, std::int64_t dltotal, std::int64_t dlnow,
                                                std::int64_t, std::int64_t) {
    const auto* progress = static_cast<TransferProgress*>(clientp);
    CGameRemoteConfig& config = *progress->config;
    const DownloadProgress reached = ComputeDownloadProgress(config.m_nResumeOffset, dlnow, dltotal);
    config.m_nOffset = reached.offset;
    // Until the size is announced the record keeps the size it knows: a resume record that
    // says "all of it" would make the next run give up the bytes on disk.
    if (reached.sizeKnown) {
        config.m_nTotalSize = reached.total;
    }
    ShowProgress(progress->window, reached.text, reached.percent, 1);
    return 0;
}
