#include "telemetry/WebLogger.h"

#include <atomic>
#include <memory>

#include <fmt/printf.h>

#include "core/Logger.h"
#include "core/ProductConstants.h"
#include "telemetry/BrowserInfo.h"
#include "telemetry/UrlEscape.h"

namespace {

std::atomic<EventLoop*> g_loop{nullptr};

const char* EventAction(int event) {
    switch (event) {
        case EventCreate:
            return "&ac=create";
        case EventDownloadStart:
            return "&ac=download_start";
        case EventUnzipStart:
            return "&ac=unzip_start";
        case EventGameStart:
            return "&ac=game_start";
        default:
            return "";  // EventUnzipFinish and any other code travel without "ac"
    }
}

}  // namespace

void WebLogger::UseEventLoop(EventLoop& loop) { g_loop.store(&loop); }

WebLogger& WebLogger::GetInstance() {
    static WebLogger* instance = [] {
        EventLoop* loop = g_loop.load();
        if (loop == nullptr) {
            // No thread was named for the engine: it gets an event thread of its own, kept for
            // the process's life as the reporter is.
            loop = &(new EventLoopThread)->Loop();
        }
        return new WebLogger(*loop, std::string(ProductConstants::kInfoReportUrl),
                             std::string(ProductConstants::kErrorReportUrl), MachineProfile::GetInstance());
    }();
    return *instance;
}

WebLogger::WebLogger(EventLoop& loop, std::string infoUrl, std::string errorUrl, const MachineProfile& profile)
    : CHttpRequestManager(loop), m_strInfoUrl(std::move(infoUrl)), m_strErrorUrl(std::move(errorUrl)), m_profile(profile) {}

WebLogger::~WebLogger() = default;

std::string WebLogger::MachinePart() const {
    return "?client_uid=" + m_profile.ClientUid() + "&ditch_name=" + std::string(ProductConstants::kDitchName) +
           "&mac=" + m_profile.MacAddress() + "&os_version=";
}

std::string WebLogger::EventReportUrl(int event) const {
    const std::string ie = fmt::sprintf("%d", BrowserInfo::Version());
    return m_strInfoUrl + MachinePart() + UrlEscapeSegment(m_profile.SystemText() + "|ie_version=" + ie) +
           EventAction(event);
}

std::string WebLogger::MessageReportUrl(const std::string& message) const {
    const std::string ie = fmt::sprintf("%d", BrowserInfo::Version());
    return m_strErrorUrl + MachinePart() + UrlEscapeSegment(m_profile.SystemText() + " ie_version:" + ie) +
           "&error_msg=" + UrlEscapeSegment(message);
}

void WebLogger::LogEvent(int event) {
    CHttpRequestParams params;
    params.m_strUrl = EventReportUrl(event);
    Logger::GetInstance().Write(params.m_strUrl, "WebLogger::LogEvent", 53, "INFO");
    AddRequest(params);
}

void WebLogger::Log(const std::string& message) {
    CHttpRequestParams params;
    params.m_strUrl = MessageReportUrl(message);
    Logger::GetInstance().Write(params.m_strUrl, "WebLogger::Log", 79, "INFO");
    AddRequest(params);
}

void WebLogger::ShutDown() {
    WaitForRunning(std::chrono::milliseconds(kShutdownWaitMs));
    Shutdown();
}
