#pragma once
// One GET of the update (the configuration document, a package) on the update worker, blocking
// until it ends: over libcurl on Linux (HttpGetCurl.cpp), over WinINet on Windows
// (HttpGetWinInet.cpp). What to do with the answer stays in one body of logic, above this seam.
//
// Every GET speaks http and https only, redirects included (the addresses come from the network
// and must not reach local files or other protocols), follows redirects (at most 30), and gives
// up on a connection that moves less than kSlowTransferBytes in stallSeconds: a server that
// trickles a few bytes a second would otherwise hold the update for good.

#include <cstddef>
#include <cstdint>
#include <string>

struct HttpGetRequest {
    std::string url;
    std::int64_t resumeFrom = 0;     // above 0: ask for the bytes from there on (a Range request)
    std::int64_t longestBody = -1;   // a body announced longer fails before it comes (tooLarge)
    bool failOnErrorStatus = false;  // a status of 400 or more fails without its body being read
    long connectSeconds = 0;
    long stallSeconds = 0;
};

inline constexpr std::int64_t kSlowTransferBytes = 1024;

// Hears the transfer as it goes, on the worker's thread.
class HttpGetSink {
public:
    virtual ~HttpGetSink() = default;
    // The final answer (a redirect's body is never handed over), before its first body byte:
    // its status and the body's announced length (-1 when unknown). False refuses the body,
    // which ends the transfer as failed.
    virtual bool OnAnswer(long status, std::int64_t announcedLength) = 0;
    // A piece of the body; returns how many bytes were taken. Fewer ends the transfer as failed.
    virtual std::size_t OnBody(const char* data, std::size_t size) = 0;
    // Now and then, also while nothing arrives (about once a second where the library allows):
    // the body bytes received so far and the announced length (0 while unknown).
    virtual void OnProgress(std::int64_t received, std::int64_t announcedLength) = 0;
};

struct HttpGetOutcome {
    bool started = false;       // the library made its handle; false: nothing was sent
    bool transferred = false;   // the whole body arrived and was taken
    long result = 0;            // the library's own result: libcurl's CURLcode, a WinINet error number
    long status = 0;            // of the final answer; 0 when none came
    bool rangeRefused = false;  // resumeFrom was asked for and the server sent something else
    bool tooLarge = false;      // the announced body is longer than longestBody
    // For the log: the library's result and text, and the status, as
    // "libcurl <n> (<text>[: <detail>]), HTTP status <s>" or "WinINet <n> (<text>), HTTP status <s>".
    std::string description;
};

HttpGetOutcome HttpGet(const HttpGetRequest& request, HttpGetSink& sink);
