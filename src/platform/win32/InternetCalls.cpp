#include "platform/win32/InternetCalls.h"

#include <atomic>
#include <map>

namespace platform::win32 {
namespace {

// The calls in flight by their handle's context number. A completion for a number no longer
// here (its request ended meanwhile) finds nothing and is dropped.
class PendingCalls {
public:
    void Add(DWORD_PTR context, std::shared_ptr<PendingInternetCall> call) {
        std::lock_guard lock(m_mutex);
        m_calls[context] = std::move(call);
    }
    std::shared_ptr<PendingInternetCall> Take(DWORD_PTR context) {
        std::lock_guard lock(m_mutex);
        const auto it = m_calls.find(context);
        if (it == m_calls.end()) {
            return nullptr;
        }
        auto call = std::move(it->second);
        m_calls.erase(it);
        return call;
    }

private:
    std::mutex m_mutex;  // guards m_calls
    std::map<DWORD_PTR, std::shared_ptr<PendingInternetCall>> m_calls;
};

PendingCalls& Pending() {
    static auto* calls = new PendingCalls;  // completions may still come while the process exits
    return *calls;
}

// WinINet's status callback, on whichever thread WinINet chooses: only hands the completion on.
void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information, DWORD) {
    if (status != INTERNET_STATUS_REQUEST_COMPLETE || context == 0 || information == nullptr) {
        return;
    }
    const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(information);
    if (const auto call = Pending().Take(context)) {
        {
            std::lock_guard lock(call->mutex);
            call->completed = true;
            // A failed call answers FALSE with its error; a count of 0 (the body's end) is no failure.
            call->error = result->dwResult == 0 ? result->dwError : 0;
        }
        call->changed.notify_all();
    }
}

}  // namespace

bool PendingInternetCall::WaitUntil(std::chrono::steady_clock::time_point until) {
    std::unique_lock lock(mutex);
    return changed.wait_until(lock, until, [&] { return completed || abandoned; });
}

void PendingInternetCall::Wait() {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return completed || abandoned; });
}

DWORD PendingInternetCall::Outcome() {
    std::lock_guard lock(mutex);
    return completed ? error : ERROR_INTERNET_OPERATION_CANCELLED;
}

void PendingInternetCall::Abandon() {
    {
        std::lock_guard lock(mutex);
        abandoned = true;
    }
    changed.notify_all();
}

DWORD_PTR NewInternetContext() {
    static std::atomic<DWORD_PTR> next{1};
    return next.fetch_add(1);
}

void WatchInternetCompletions(HINTERNET root) { ::InternetSetStatusCallbackW(root, &OnStatus); }

namespace detail {
void Expect(DWORD_PTR context, std::shared_ptr<PendingInternetCall> call) { Pending().Add(context, std::move(call)); }
void Forget(DWORD_PTR context) { Pending().Take(context); }
}  // namespace detail

}  // namespace platform::win32
