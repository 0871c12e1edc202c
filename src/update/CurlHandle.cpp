#include "update/CurlHandle.h"

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
    }
}

void CurlHandle::LimitWaiting(long connectSeconds, long stallSeconds) {
    curl_easy_setopt(m_handle.get(), CURLOPT_CONNECTTIMEOUT, connectSeconds);
    curl_easy_setopt(m_handle.get(), CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(m_handle.get(), CURLOPT_LOW_SPEED_TIME, stallSeconds);
    // A redirect loop would otherwise keep the worker busy for good.
    curl_easy_setopt(m_handle.get(), CURLOPT_MAXREDIRS, 30L);
}
