#pragma once
// One libcurl easy handle, released when it goes out of scope. libcurl's process-wide set-up
// runs once, before the first handle. Transfers run on the update worker, so libcurl is told
// never to use signals (its name-resolution time-outs would otherwise raise SIGALRM there).

#include <curl/curl.h>

#include <memory>

class CurlHandle {
public:
    CurlHandle();  // empty when libcurl cannot make a handle

    explicit operator bool() const { return m_handle != nullptr; }
    CURL* get() const { return m_handle.get(); }
    void Reset() { m_handle.reset(); }  // curl_easy_cleanup now

    // The failure-bounding options every transfer of the launcher carries: a connect time-out
    // and the abort of a transfer that received nothing for stallSeconds.
    void LimitWaiting(long connectSeconds, long stallSeconds);

private:
    struct Cleanup {
        void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
    };
    std::unique_ptr<CURL, Cleanup> m_handle;
};
