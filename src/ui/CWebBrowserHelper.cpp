#include "ui/CWebBrowserHelper.h"

#include <webkit2/webkit2.h>

#include <cctype>
#include <climits>

#include <fmt/printf.h>

#include "platform/Executable.h"

CWebBrowserHelper& CWebBrowserHelper::GetInstance() {
    static CWebBrowserHelper instance;
    return instance;
}

std::string CWebBrowserHelper::GetAppName() const {
    return platform::ApplicationName();
}

int CWebBrowserHelper::GetBrowserVersion() const {
    const int major = MajorVersionOf(EngineVersionText(RunningEngine()));
    return major > 0 ? major : 0;
}

std::string CWebBrowserHelper::DefaultUserAgent() {
    // Fresh settings carry the engine's own default; no page or web process is needed for it.
    WebKitSettings* settings = webkit_settings_new();
    const char* agent = webkit_settings_get_user_agent(settings);
    std::string text = agent != nullptr ? agent : "";
    g_object_unref(settings);
    return text;
}

void CWebBrowserHelper::FixBrowserVersion() {
    const EngineSettings settings = SettingsFor(RunningEngine());
    std::lock_guard lock(m_mutex);
    m_settings = settings;
}

std::optional<EngineSettings> CWebBrowserHelper::ChosenSettings() const {
    std::lock_guard lock(m_mutex);
    return m_settings;
}

int CWebBrowserHelper::MajorVersionOf(std::string_view text) {
    if (const auto dot = text.find('.'); dot != std::string_view::npos && dot > 0) {
        text = text.substr(0, dot);
    }
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX) {  // a runaway number saturates instead of overflowing
            value = INT_MAX;
        }
    }
    return static_cast<int>(negative ? -value : value);
}

EngineSettings CWebBrowserHelper::SettingsFor(const EngineVersion& version) {
    EngineSettings settings;
    // Before 2.42 the engine could composite on demand, only for pages that ask for it. Later
    // engines know only always or never, and one small page is not worth a GPU process.
    const bool onDemandExists = version.major < 2 || (version.major == 2 && version.minor < 42);
    settings.acceleration = onDemandExists ? HardwareAcceleration::OnDemand : HardwareAcceleration::Never;
    return settings;
}

EngineVersion CWebBrowserHelper::RunningEngine() {
    return {static_cast<int>(webkit_get_major_version()), static_cast<int>(webkit_get_minor_version()),
            static_cast<int>(webkit_get_micro_version())};
}

std::string CWebBrowserHelper::EngineVersionText(const EngineVersion& v) {
    return fmt::sprintf("%d.%d.%d", v.major, v.minor, v.micro);
}
