#pragma once
// The download reports progress on every piece libcurl receives, thousands of times a second,
// and each report would make the update worker wait for the window thread. Most reports change
// nothing on screen: the same percent, the same status, the same caption, the same state. This
// remembers what the overlay shows so that such reports are not carried over at all, and the
// transfer never waits for the window when there is nothing to draw.

#include <mutex>
#include <optional>
#include <string>

class ProgressRepeats {
public:
    enum class State { Progress, Message };

    // True when ShowProgress with these values can change the overlay (and records them). The
    // percent text only changes with the percent, so it takes no part.
    bool ShowProgressChanges(const std::string& status, int percent, int downloading);
    // True when the state operation can change the overlay (and records it): always after a
    // ShowProgress that was carried over, which may have hidden texts to repaint them.
    bool StateChanges(State state);

private:
    struct Shown {
        std::string status;
        int percent = 0;
        int downloading = 0;
    };

    std::mutex m_mutex;  // the worker calls; any thread may
    std::optional<Shown> m_lastProgress;
    std::optional<State> m_lastState;
    bool m_stateStale = true;
};
