#include "update/CurlHandle.h"

#include <fmt/printf.h>

#include <mutex>

namespace {

void InitialiseLibcurlOnce() {
    static std::once_flag once;
    // Never undone: the update worker may still be transferring while the process exits.
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

CurlHandle::CurlHandle() {
    InitialiseLibcurlOnce();
    m_handle.reset(curl_easy_init());
    if (m_handle) {
        curl_easy_setopt(m_handle.get(), CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(m_handle.get(), CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(m_handle.get(), CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(m_handle.get(), CURLOPT_ERRORBUFFER, m_errorText);
    }
}

void CurlHandle::LimitWaiting(long connectSeconds, long slowSeconds) {
    curl_easy_setopt(m_handle.get(), CURLOPT_CONNECTTIMEOUT, connectSeconds);
    // libcurl aborts when the average speed stays below the limit for the whole time.
    const long seconds = slowSeconds > 0 ? slowSeconds : 1;
    curl_easy_setopt(m_handle.get(), CURLOPT_LOW_SPEED_LIMIT, (kSlowTransferBytes + seconds - 1) / seconds);
    curl_easy_setopt(m_handle.get(), CURLOPT_LOW_SPEED_TIME, seconds);
    // A redirect loop would otherwise keep the worker busy for good.
    curl_easy_setopt(m_handle.get(), CURLOPT_MAXREDIRS, 30L);
}

std::string CurlHandle::DescribeOutcome(CURLcode result, long status) const {
    std::string text = curl_easy_strerror(result);
    if (result != CURLE_OK && m_errorText[0] != '\0' && text != m_errorText) {
        text += ": ";
        text += m_errorText;
    }
    return fmt::sprintf("libcurl %d (%s), HTTP status %d", static_cast<int>(result), text, status);
}
