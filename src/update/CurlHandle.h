#pragma once
// One libcurl easy handle, released when it goes out of scope. libcurl's process-wide set-up
// runs once, before the first handle. Transfers run on the update worker, so libcurl is told
// never to use signals (its name-resolution time-outs would otherwise raise SIGALRM there).
// Every handle speaks http and https only, redirects included: the configuration and the
// package addresses come from the network and must not reach local files or other protocols.

#include <curl/curl.h>

#include <memory>
#include <string>

class CurlHandle {
public:
    CurlHandle();  // empty when libcurl cannot make a handle
    // libcurl keeps a pointer to the error text buffer inside this object.
    CurlHandle(const CurlHandle&) = delete;
    CurlHandle& operator=(const CurlHandle&) = delete;

    explicit operator bool() const { return m_handle != nullptr; }
    CURL* get() const { return m_handle.get(); }
    void Reset() { m_handle.reset(); }  // curl_easy_cleanup now

    // The failure-bounding options every transfer of the launcher carries: a connect time-out,
    // and the abort of a transfer that moves less than kSlowTransferBytes in slowSeconds (a
    // server that trickles a few bytes a second would otherwise hold the update for good).
    void LimitWaiting(long connectSeconds, long slowSeconds);
    static constexpr long kSlowTransferBytes = 1024;

    // "libcurl <result> (<its text>[: <libcurl's detail>]), HTTP status <status>" for the log.
    std::string DescribeOutcome(CURLcode result, long status) const;

private:
    struct Cleanup {
        void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
    };
    std::unique_ptr<CURL, Cleanup> m_handle;
    char m_errorText[CURL_ERROR_SIZE] = {};
};
