// The update worker, the configuration fetch and the resume record.

#include "update/CGameRemoteConfig.h"

#include <fmt/printf.h>

#include <cstring>
#include <fstream>

#include "core/CWebApp.h"
#include "core/DataPaths.h"
#include "core/Logger.h"
#include "platform/Executable.h"
#include "platform/FileSystem.h"
#include "platform/SystemInfo.h"
#include "update/PackageKey.h"
#include "update/ResumeRecord.h"
#include "update/UpdateWindow.h"

std::atomic<bool> g_bFirstInstall{false};

namespace {

constexpr const char* kInitRemoteConfig = "CGameRemoteConfig::InitRemoteConfig";
constexpr size_t kVersionLineLength = 63;  // what the version file's line buffer holds
constexpr size_t kLongestRecordRead = 64 * 1024;

// The first line of the installed version file, as a text-mode read of at most 63 characters
// gives it (the LF stays, a CR before it does not).
std::string FirstLine(std::istream& in) {
    std::string line;
    for (char c; line.size() < kVersionLineLength && in.get(c);) {
        line += c;
        if (c == '\n') {
            if (line.size() >= 2 && line[line.size() - 2] == '\r') {
                line.erase(line.size() - 2, 1);
            }
            break;
        }
    }
    return line;
}

}  // namespace

CGameRemoteConfig::Settings::Settings()
    : is64Bit(platform::OperatingSystemIs64Bit()), packagePublicKey(VALDRUNE_PACKAGE_PUBLIC_KEY) {}

CGameRemoteConfig& CGameRemoteConfig::GetInstance() {
    static CGameRemoteConfig* instance = new CGameRemoteConfig();
    return *instance;
}

CGameRemoteConfig::CGameRemoteConfig(Settings settings) : m_settings(std::move(settings)) {}

std::string CGameRemoteConfig::DataDir() const {
    if (!m_settings.dataDir.empty()) {
        return m_settings.dataDir;
    }
    const CWebApp* app = CWebApp::Current();
    return app != nullptr ? app->m_strDataDir : std::string();
}

std::string CGameRemoteConfig::ClientDir() const {
    if (!m_settings.clientDir.empty()) {
        return m_settings.clientDir;
    }
    const CWebApp* app = CWebApp::Current();
    return app != nullptr ? app->m_strClientDir : std::string();
}

std::string CGameRemoteConfig::ExecutablePath() const {
    return m_settings.executablePath.empty() ? platform::ExecutablePath() : m_settings.executablePath;
}

int CGameRemoteConfig::InitRemoteConfig(MainWindow* window) {
    if (window == nullptr) {
        LOG_ERROR(kInitRemoteConfig, "lpParameter is NULL!");
        return 0;
    }
    LoadDownloadState();

    const std::string url = ReplaceAll(m_settings.configUrl, "{ditch_name}", ProductConstants::kDitchName);
    LOG_INFO(kInitRemoteConfig, url);
    ConfigBody body;
    HttpGetRequest request;
    request.url = url;
    // An announced length over the limit fails before the body comes; the sink stops the rest.
    request.longestBody = kLongestConfigBody;
    request.connectSeconds = m_settings.connectTimeoutSeconds;
    request.stallSeconds = m_settings.stallTimeoutSeconds;
    const HttpGetOutcome outcome = HttpGet(request, body);
    if (!outcome.started) {
        ShowMessage(window, "更新失败,请检查网络,ErrorCode:101");
        LOG_ERROR(kInitRemoteConfig, "curl is NULL!");
        return 0;
    }
    if (!outcome.transferred || outcome.status != 200) {
        std::string cause = outcome.description;
        if (body.received > kLongestConfigBody || outcome.tooLarge) {
            cause += fmt::sprintf("; the document is longer than %d bytes", kLongestConfigBody);
        }
        LOG_ERROR(kInitRemoteConfig, fmt::sprintf("configuration fetch failed: %s: %s", url, cause));
        LOG_ERROR(kInitRemoteConfig, fmt::sprintf("res:%d, httpStatusCode:%d", outcome.result, outcome.status));
        ShowMessage(window, "更新失败,请检查网络,ErrorCode:102");
        return 0;
    }
    LoadRemoteConfig(body.text);

    // The page loads while the rest of the update runs.
    window->InitWebBrower();

    ReadInstalledVersion();
    LocalClientVersion downloadVersion;
    CStringToLocalClientVersion(downloadVersion, ReadResumeValue("downloadVersion"));
    SetDownloadVersion(downloadVersion);
    if (std::string text; FindConfigValue("ClientVersion", text)) {
        CStringToLocalClientVersion(m_clientVersion, text);
    }
    // Only the minimum version decides; "ClientVersion" is what a download would fetch.
    bool updateNeeded = true;
    if (std::string text; FindConfigValue("ClientMiniUpdateVersion", text)) {
        CStringToLocalClientVersion(m_miniUpdateVersion, text);
        updateNeeded = m_localClientVersion < m_miniUpdateVersion;
    }

    if (!updateNeeded) {
        RegisterUpToDateInstall(window);
        return 0;
    }
    ActOnDownloadResult(OnDownLoad(window), window);
    return 0;
}

void CGameRemoteConfig::LoadDownloadState() {
    const std::int64_t offset = ParseDecimal64(ReadResumeValue("offset"));
    m_nOffset = offset;
    m_nResumeOffset = offset;
    m_nTotalSize = ParseDecimal64(ReadResumeValue("totalSize"));
    // The held bytes' version belongs to the state as well: a run that ends before it would
    // otherwise parse it writes the record back as 0.0.0.0, and the next run discards the bytes.
    // (It is parsed again, with its log line, where the update decides.)
    SetDownloadVersion(ParseVersionText(ReadResumeValue("downloadVersion")));
    m_bDownloadStateLoaded = true;
}

void CGameRemoteConfig::ReadInstalledVersion() {
    const std::string path = DataPaths::GameVersionFile(ClientDir());
    LOG_INFO(kInitRemoteConfig, path);
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        g_bFirstInstall = true;  // m_localClientVersion stays 0.0.0.0
        return;
    }
    CStringToLocalClientVersion(m_localClientVersion, FirstLine(in));
}

void CGameRemoteConfig::RegisterUpToDateInstall(MainWindow* window) {
    SetRegisties();
    const std::string exe = ExecutablePath();
    const std::string target = DataPaths::LauncherCopy(DataDir());
    LOG_INFO(kInitRemoteConfig, fmt::sprintf("work_path:%s", exe));
    LOG_INFO(kInitRemoteConfig, fmt::sprintf("dest_path:%s", target));
    if (CopyLauncher(target) == 0) {
        if (m_settings.noicon.empty()) {
            LOG_INFO(kInitRemoteConfig, "创建桌面快捷方式...");
            CreateShortcuts();
        } else {
            LOG_INFO(kInitRemoteConfig, fmt::sprintf("不需要创建桌面快捷方式: noicon=%s", m_settings.noicon));
        }
    }
    ShowMessage(window, "更新已完成");
    window->SetReady();
    LOG_INFO(kInitRemoteConfig, "update finish!");
}

void CGameRemoteConfig::ActOnDownloadResult(int result, MainWindow* window) {
    switch (result) {
        case kDownloadFinished: break;  // the download and the unpacking have shown the outcome
        case kDownloadConfigIncomplete:
            ShowMessage(window, "更新失败,请检查网络,ErrorCode:102");
            LOG_ERROR(kInitRemoteConfig, "download error:102");
            break;
        case kDownloadPackageUnwritable:
            ShowMessage(window, "更新失败,请检查下载目录");
            LOG_ERROR(kInitRemoteConfig, "download error: path error");
            break;
        case kDownloadFirstAttemptFailed:
            LOG_ERROR(kInitRemoteConfig, "download error: try backup download_url ");
            ActOnDownloadResult(OnDownLoad(window), window);  // a second attempt never returns 3
            break;
        case kDownloadNoAddress:
            ShowMessage(window, "更新失败,请检查下载链接");
            LOG_ERROR(kInitRemoteConfig, "download error: backup download_url error");
            break;
        default: break;
    }
}

std::size_t CGameRemoteConfig::ConfigBody::OnBody(const char* data, std::size_t size) {
    received += size;
    // A body without end (or of NUL bytes, which take no room) must not hold the worker or
    // fill the memory: past the limit the transfer stops.
    if (received > kLongestConfigBody) {
        return 0;
    }
    // The body is text: a piece counts up to its first NUL byte.
    text.append(data, strnlen(data, size));
    return size;
}

void CGameRemoteConfig::LoadRemoteConfig(std::string_view document) {
    ParseRemoteConfigDocument(document, m_mapRemoteConfig);
}

bool CGameRemoteConfig::FindConfigValue(const std::string& key, std::string& value) const {
    const auto it = m_mapRemoteConfig.find(key);
    if (it == m_mapRemoteConfig.end()) {
        return false;
    }
    value = it->second;
    return true;
}

std::string CGameRemoteConfig::GetEntryUrl() const {
    std::string value;
    FindConfigValue("EntryUrl", value);
    return value;
}

std::string CGameRemoteConfig::GetCustomParameters() const {
    std::string value;
    FindConfigValue("CustomParameters", value);
    return value;
}

void CGameRemoteConfig::CStringToLocalClientVersion(LocalClientVersion& version, const std::string& text) const {
    LOG_INFO("CGameRemoteConfig::CStringToLocalClientVersion", fmt::sprintf("local_client_version:%s", text));
    version = ParseVersionText(text);
}

LocalClientVersion CGameRemoteConfig::DownloadVersion() const {
    std::lock_guard lock(m_recordMutex);
    return m_downloadVersion;
}

void CGameRemoteConfig::SetDownloadVersion(const LocalClientVersion& version) {
    std::lock_guard lock(m_recordMutex);
    m_downloadVersion = version;
}

void CGameRemoteConfig::WriteResumeRecord() {
    if (!m_bDownloadStateLoaded) {
        return;
    }
    // The package bytes counted in the offset are already in the file: package writes go
    // straight to the kernel and the offset only counts what was written. (While a transfer
    // runs they are also flushed to the disk before the record names them.)
    WriteResumeRecord(m_nOffset.load(), m_nTotalSize.load());
}

void CGameRemoteConfig::WriteResumeRecord(std::int64_t offset, std::int64_t totalSize) {
    std::lock_guard lock(m_recordMutex);
    const std::string content = FormatResumeRecord(m_downloadVersion, offset, totalSize);
    platform::ReplaceFileContent(DataPaths::ResumeRecord(DataDir()), content);
}

std::string CGameRemoteConfig::ReadResumeValue(const std::string& key) const {
    std::ifstream in(DataPaths::ResumeRecord(DataDir()), std::ios::binary);
    if (!in) {
        return {};
    }
    // The record is three short lines; whatever else someone put there is not read whole.
    std::string content(kLongestRecordRead, '\0');
    in.read(content.data(), static_cast<std::streamsize>(content.size()));
    content.resize(static_cast<size_t>(in.gcount()));
    return FindResumeValue(content, key);
}
