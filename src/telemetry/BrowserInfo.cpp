#include "telemetry/BrowserInfo.h"

#include <mutex>

namespace BrowserInfo {
namespace {

// Set by the window thread, read by whichever thread reports.
std::mutex g_mutex;
std::function<int()> g_version;
std::string g_userAgent;

}  // namespace

void SetVersionProvider(std::function<int()> provider) {
    std::lock_guard lock(g_mutex);
    g_version = std::move(provider);
}

int Version() {
    std::function<int()> provider;
    {
        std::lock_guard lock(g_mutex);
        provider = g_version;
    }
    return provider ? provider() : 0;
}

void SetDefaultUserAgent(std::string userAgent) {
    std::lock_guard lock(g_mutex);
    g_userAgent = std::move(userAgent);
}

std::string DefaultUserAgent() {
    std::lock_guard lock(g_mutex);
    return g_userAgent;
}

}  // namespace BrowserInfo
