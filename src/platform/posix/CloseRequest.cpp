#include "platform/CloseRequest.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>

namespace platform {
namespace {

sigset_t CloseSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// The thread that blocked the close signals first (main's), where they are taken.
pthread_t g_closeSignalsThread;

// Libraries may start threads while they load, before main can block anything (the page
// engine's memory scavenger does); a close signal that lands on one of them would end the
// launcher at once, without its close. Handed on, it waits for the owner like any other.
void HandOnCloseSignal(int signal) {
    const int savedErrno = errno;
    pthread_kill(g_closeSignalsThread, signal);
    errno = savedErrno;
}

}  // namespace

void PrepareCloseRequest() {
    const sigset_t set = CloseSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    g_closeSignalsThread = pthread_self();
    struct sigaction action {};
    action.sa_handler = &HandOnCloseSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void WaitForCloseRequest() {
    const sigset_t set = CloseSignals();
    int signal = 0;
    sigwait(&set, &signal);
}

}  // namespace platform
