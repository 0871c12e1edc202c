#pragma once
// WinINet calls on handles opened asynchronous (INTERNET_FLAG_ASYNC), for the Windows backends
// of the update's GET and of the report engine. A call that WinINet finishes later is waited for
// by its caller's own wait, which can give up (a cancel, a stall) where a synchronous call would
// keep waiting for the server: Wine does not end a blocked synchronous call when its handle is
// closed, and a synchronous read waits until its whole buffer is filled.

#include <windows.h>
#include <wininet.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform::win32 {

// One call WinINet may finish later. WinINet may still write the count and read the headers and
// body after its caller has given up waiting, so they live here, and this lives until WinINet
// reports the completion.
struct PendingInternetCall {
    std::mutex mutex;  // guards the three fields below
    std::condition_variable changed;
    bool completed = false;
    bool abandoned = false;  // the caller gave up and waits no more
    DWORD error = 0;         // 0: the call succeeded

    DWORD available = 0;  // written by InternetQueryDataAvailable
    DWORD read = 0;       // written by InternetReadFile, into buffer
    INTERNET_BUFFERSA buffers{};  // InternetReadFileExA's: it writes the count into dwBufferLength
    std::vector<char> buffer;
    std::wstring headers;
    std::string body;

    // Until it completed or was abandoned, or until the time given: true when it ended.
    bool WaitUntil(std::chrono::steady_clock::time_point until);
    void Wait();
    // The outcome once it ended: 0, its error, or ERROR_INTERNET_OPERATION_CANCELLED when abandoned.
    DWORD Outcome();
    void Abandon();
};

// Completions reach their calls through the handle's context number: every request handle gets
// a number of its own (never reused, never 0) and has at most one call in flight.
DWORD_PTR NewInternetContext();
// Hands the completions of the handles under root to their calls; set before any request is opened.
void WatchInternetCompletions(HINTERNET root);

// Starts a call on the request handle of context: 0 when it finished at once, its error when it
// failed at once, ERROR_IO_PENDING when it goes on (its completion then comes to call).
template <typename Start>
DWORD StartInternetCall(DWORD_PTR context, const std::shared_ptr<PendingInternetCall>& call, const Start& start);

namespace detail {
void Expect(DWORD_PTR context, std::shared_ptr<PendingInternetCall> call);
void Forget(DWORD_PTR context);
}  // namespace detail

template <typename Start>
DWORD StartInternetCall(DWORD_PTR context, const std::shared_ptr<PendingInternetCall>& call, const Start& start) {
    // Known before the call starts: its completion may come before the call returns.
    detail::Expect(context, call);
    if (start()) {
        detail::Forget(context);
        return 0;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING) {
        detail::Forget(context);
    }
    return error;
}

}  // namespace platform::win32
