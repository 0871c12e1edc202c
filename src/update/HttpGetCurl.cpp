// The update's GET over libcurl: one easy handle per GET. Transfers run on the update worker, so
// libcurl is told never to use signals (its name-resolution time-outs would otherwise raise
// SIGALRM there). The proxy is the one libcurl takes from the environment.

#include "update/HttpGet.h"

#include <curl/curl.h>
#include <fmt/printf.h>

#include <memory>
#include <type_traits>

static_assert(std::is_same_v<curl_off_t, std::int64_t>, "the sink's counts are libcurl's");

namespace {

void InitialiseLibcurlOnce() {
    // Never undone: the update worker may still be transferring while the process exits.
    static const bool ready = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();
    (void)ready;
}

struct Cleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

// What libcurl's callbacks share; on the worker's stack for the GET.
struct Transfer {
    CURL* curl;
    HttpGetSink* sink;
    bool answered = false;
};

size_t OnWrite(char* data, size_t size, size_t count, void* userdata) {
    auto& transfer = *static_cast<Transfer*>(userdata);
    if (size == 0) {
        return 0;
    }
    if (!transfer.answered) {
        // libcurl hands over no body of a redirect it follows, so this is the final answer.
        long status = 0;
        curl_easy_getinfo(transfer.curl, CURLINFO_RESPONSE_CODE, &status);
        curl_off_t announced = -1;
        curl_easy_getinfo(transfer.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        if (!transfer.sink->OnAnswer(status, announced)) {
            return 0;  // a short count ends the transfer with a write error
        }
        transfer.answered = true;
    }
    return transfer.sink->OnBody(data, size * count) / size;
}

int OnProgress(void* userdata, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) {
    auto& transfer = *static_cast<Transfer*>(userdata);
    // Counts of an answer whose body is not handed over (an error page, a redirect) say
    // nothing about the body the sink waits for.
    transfer.sink->OnProgress(transfer.answered ? now : 0, transfer.answered ? total : 0);
    return 0;
}

std::string Describe(CURLcode result, const char* detail, long status) {
    std::string text = curl_easy_strerror(result);
    if (result != CURLE_OK && detail[0] != '\0' && text != detail) {
        text += ": ";
        text += detail;
    }
    return fmt::sprintf("libcurl %d (%s), HTTP status %d", static_cast<int>(result), text, status);
}

}  // namespace

HttpGetOutcome HttpGet(const HttpGetRequest& request, HttpGetSink& sink) {
    InitialiseLibcurlOnce();
    HttpGetOutcome outcome;
    const std::unique_ptr<CURL, Cleanup> handle(curl_easy_init());
    if (!handle) {
        outcome.result = CURLE_FAILED_INIT;
        outcome.description = Describe(CURLE_FAILED_INIT, "", 0);
        return outcome;
    }
    outcome.started = true;
    CURL* curl = handle.get();
    char detail[CURL_ERROR_SIZE] = {};
    Transfer transfer{curl, &sink};
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, detail);
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 30L);  // a redirect loop would keep the worker busy for good
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnWrite);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, 256L * 1024L);  // fewer, larger writes
    if (request.failOnErrorStatus) {
        curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    }
    if (request.resumeFrom > 0) {
        curl_easy_setopt(curl, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(request.resumeFrom));
    }
    if (request.longestBody >= 0) {
        curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(request.longestBody));
    }
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, request.connectSeconds);
    // libcurl aborts when the average speed stays below the limit for the whole time.
    const long seconds = request.stallSeconds > 0 ? request.stallSeconds : 1;
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>((kSlowTransferBytes + seconds - 1) / seconds));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, seconds);

    const CURLcode result = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &outcome.status);
    outcome.transferred = result == CURLE_OK;
    outcome.result = result;
    outcome.rangeRefused = result == CURLE_RANGE_ERROR;
    outcome.tooLarge = result == CURLE_FILESIZE_EXCEEDED;
    outcome.description = Describe(result, detail, outcome.status);
    return outcome;
}
