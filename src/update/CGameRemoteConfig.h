#pragma once
// The update pipeline: fetches the operator's configuration, decides whether the installed
// game client is current, downloads (resumably, with a backup address) and unpacks the game
// package, and registers the install (uninstall entry, launcher copy, shortcuts, version file).
//
// Threads: InitRemoteConfig and everything it calls run on the update worker. The window
// thread only calls WriteResumeRecord (on closing) and, once the worker has declared the
// client ready, the getters of the configuration table, which the worker fills before it
// calls anything else. While a package downloads, one short-lived recorder thread at a time
// flushes the package to the disk and then writes the record; the worker joins it before the
// transfer's outcome is acted on. m_recordMutex serialises every record write.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "core/MainWindow.h"
#include "core/ProductConstants.h"
#include "platform/FileSystem.h"
#include "update/HttpGet.h"
#include "update/LocalClientVersion.h"
#include "update/RemoteConfigDocument.h"

// Set by the update worker when no installed version file was found; read by the game launch.
extern std::atomic<bool> g_bFirstInstall;

// The outcome of one download attempt (CGameRemoteConfig::OnDownLoad).
enum DownloadResult : int {
    kDownloadFinished = 0,           // installed, or an unpacking failure that has been shown
    kDownloadConfigIncomplete = 1,   // a needed key is missing, or no transfer handle
    kDownloadPackageUnwritable = 2,  // the package file cannot be opened
    kDownloadFirstAttemptFailed = 3,
    kDownloadNoAddress = 4,          // no address for this attempt, or a later attempt failed
};

// Why the last unpacking failed: the package (unreadable, damaged, refused names), or the local
// disk (no space, no permission, a path in the way), where the package is worth keeping.
enum class UnpackFailure { None, Archive, LocalDisk };

struct UnpackFault;

class CGameRemoteConfig {
public:
    // Where the pipeline reads and writes. The process uses the defaults; tests fill them in.
    struct Settings {
        std::string configUrl{ProductConstants::kRemoteConfigUrl};
        std::string dataDir;         // empty: the application object's data folder
        std::string clientDir;       // empty: the application object's client folder
        std::string executablePath;  // the running launcher; empty: this process's executable
        bool is64Bit;                // a 64-bit system downloads "ClientDownloadUrl"
        long connectTimeoutSeconds = 60;
        // A transfer that moves less than 1 KiB in this many seconds fails.
        long stallTimeoutSeconds = 60;
        // Base64 of the operator's Ed25519 public key; empty: no signature is checked. The
        // build's VALDRUNE_PACKAGE_PUBLIC_KEY by default.
        std::string packagePublicKey;
        std::string noicon;  // nothing sets it in the launcher; non-empty: an up-to-date run makes no shortcuts
        // The free space of the file system holding a path (the unpacking checks it first).
        std::function<std::optional<platform::DiskSpace>(const std::string&)> freeSpace = &platform::FreeDiskSpace;

        Settings();
    };

    // The process's one pipeline, never destroyed: the worker may outlive everything else.
    static CGameRemoteConfig& GetInstance();

    explicit CGameRemoteConfig(Settings settings = Settings());
    CGameRemoteConfig(const CGameRemoteConfig&) = delete;
    CGameRemoteConfig& operator=(const CGameRemoteConfig&) = delete;

    // The update worker's procedure: one whole update run. Always returns 0.
    int InitRemoteConfig(MainWindow* window);

    // Configuration table, filled once from the fetched document by the worker.
    void LoadRemoteConfig(std::string_view document);
    bool FindConfigValue(const std::string& key, std::string& value) const;
    std::string GetEntryUrl() const;
    std::string GetCustomParameters() const;
    void CStringToLocalClientVersion(LocalClientVersion& version, const std::string& text) const;

    // Resume record.
    void WriteResumeRecord();
    std::string ReadResumeValue(const std::string& key) const;

    // Package download and unpacking.
    int OnDownLoad(MainWindow* window);
    bool OnUnzipFile(const std::string& path, MainWindow* window);
    bool UnzipFile(const std::string& path, MainWindow* window);
    UnpackFailure LastUnpackFailure() const { return m_unpackFailure; }

    // Install registration.
    void SetRegisties();
    void RemoveRegisties();
    void CreateShortcuts();
    void CreateShortcut(const std::string& name, const std::string& folder, const std::string& target,
                        const std::string& arguments);
    void CreateLink(const std::string& target, const std::string& linkPath, const std::string& arguments);

    // The download state as the window thread and tests see it.
    std::int64_t Offset() const { return m_nOffset.load(); }
    std::int64_t TotalSize() const { return m_nTotalSize.load(); }
    LocalClientVersion DownloadVersion() const;
    LocalClientVersion LocalVersion() const { return m_localClientVersion; }

    // The largest configuration document taken; a longer body fails the fetch (102).
    static constexpr size_t kLongestConfigBody = 1 << 20;
    // While a package downloads, the resume record is rewritten after this many new bytes or
    // this long, whichever comes first, so a crash loses little.
    static constexpr std::int64_t kRecordEveryBytes = 8 << 20;
    static constexpr int kRecordEveryMilliseconds = 2000;

    // The configuration body as it arrives: text up to the first NUL byte of each piece; past
    // kLongestConfigBody bytes it takes no more, which ends the transfer.
    struct ConfigBody final : HttpGetSink {
        std::string text;
        size_t received = 0;  // bytes delivered, NUL bytes included
        bool OnAnswer(long, std::int64_t) override { return true; }  // the status is judged at the end
        std::size_t OnBody(const char* data, std::size_t size) override;
        void OnProgress(std::int64_t, std::int64_t) override {}
    };
    struct PackageTransfer;

private:

    std::string DataDir() const;
    std::string ClientDir() const;
    std::string ExecutablePath() const;

    void LoadDownloadState();
    void ReadInstalledVersion();
    void RegisterUpToDateInstall(MainWindow* window);
    void ActOnDownloadResult(int result, MainWindow* window);
    // Copies the running launcher (and the files it needs beside it) into the data folder.
    std::uint32_t CopyLauncher(const std::string& target) const;
    void WriteVersionFile();
    void SetDownloadVersion(const LocalClientVersion& version);
    // Logs the fault's one ERROR line, keeps its kind for LastUnpackFailure; false.
    bool UnpackFailed(const UnpackFault& fault);
    // Rewrites the resume record during a transfer when enough is new (or always with force),
    // once the package bytes it counts are on disk: on a thread of its own, or at once with force.
    void RecordTransfer(PackageTransfer& transfer, bool force);
    void WriteResumeRecord(std::int64_t offset, std::int64_t totalSize);  // with the held version
    // The digest and signature check before a package is unpacked; computedSha256 empty: hash
    // the file now. A package that fails is deleted, logged and reported; false then.
    bool PackageChecksOut(const std::string& path, std::string computedSha256);
    bool PackageNeedsChecking() const;

    Settings m_settings;

    // Filled once by the worker before anyone else reads it; read-only afterwards.
    RemoteConfigTable m_mapRemoteConfig;

    // The worker's own.
    LocalClientVersion m_localClientVersion;
    LocalClientVersion m_clientVersion;
    LocalClientVersion m_miniUpdateVersion;
    std::int64_t m_nResumeOffset = 0;
    int m_nDownloadAttempts = 0;
    UnpackFailure m_unpackFailure = UnpackFailure::None;

    // Written by the worker, read by the window thread's resume record.
    std::atomic<std::int64_t> m_nOffset{0};
    std::atomic<std::int64_t> m_nTotalSize{0};
    mutable std::mutex m_recordMutex;  // guards m_downloadVersion and serialises record writes
    LocalClientVersion m_downloadVersion;
    // Until the worker has read the record there is nothing to write back: a close that early
    // must not replace the previous run's record with zeros.
    std::atomic<bool> m_bDownloadStateLoaded{false};
};
