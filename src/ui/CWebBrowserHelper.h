#pragma once
// The page engine's version for the reports, and the one-time choice of the engine's settings
// for every page of this run. The Windows launcher registered a document mode per installed
// browser version; with an embedded engine that decision becomes the engine's settings.

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

struct EngineVersion {
    int major = 0;
    int minor = 0;
    int micro = 0;
};

enum class HardwareAcceleration { OnDemand, Always, Never };

struct EngineSettings {
    HardwareAcceleration acceleration = HardwareAcceleration::Never;
    bool developerExtras = false;          // no inspector, no "Inspect element"
    bool consoleMessagesToStdout = false;  // the page's console stays out of the launcher's output
    bool smoothScrolling = false;
    bool pageCache = false;              // one page per run; nothing to go back to
    std::string defaultCharset = "GBK";  // for channel pages that name no encoding, as the
                                         // simplified-Chinese browser assumed
    bool operator==(const EngineSettings&) const = default;
};

class CWebBrowserHelper {
  public:
    static CWebBrowserHelper& GetInstance();

    // The running executable's file name without folder and extension.
    std::string GetAppName() const;

    // The page engine's major version, 0 when it cannot be told. Safe from any thread.
    int GetBrowserVersion() const;

    // The user agent the page engine sends for its pages when none is set: what the reports
    // send too, as the Windows launcher sent the system browser's. Needs GTK on a display.
    static std::string DefaultUserAgent();

    // Chooses the engine settings for this run (once, at start-up, before any page exists).
    void FixBrowserVersion();

    // The settings FixBrowserVersion chose; without it pages keep the engine's own defaults.
    std::optional<EngineSettings> ChosenSettings() const;

    // The major number of a version text: the part before the first "." (a leading "." is kept,
    // so ".5" gives 0), read like atoi: leading blanks and a sign, digits up to the first
    // other character, 0 without digits.
    static int MajorVersionOf(std::string_view versionText);

    // The settings for an engine version.
    static EngineSettings SettingsFor(const EngineVersion& version);

    // The running engine's version, and as text "major.minor.micro".
    static EngineVersion RunningEngine();
    static std::string EngineVersionText(const EngineVersion& version);

  private:
    CWebBrowserHelper() = default;

    mutable std::mutex m_mutex;  // FixBrowserVersion runs on the main thread; readers may be anywhere
    std::optional<EngineSettings> m_settings;
};
