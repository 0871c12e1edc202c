#pragma once
// A main window that records every call the update worker makes, in order, for tests.

#include <mutex>
#include <string>
#include <vector>

#include "core/MainWindow.h"

namespace testing_support {

class RecordingMainWindow final : public MainWindow {
public:
    // Calls as text: "ShowProgress(status|percent text|percent|downloading)", "ShowProgressState",
    // "ShowMessageState", "InitWebBrower", "SetReady".
    std::vector<std::string> Calls() const;
    // The status texts shown as messages (ShowProgress with a status), in order.
    std::vector<std::string> Messages() const;
    // The percent texts of the progress calls with the given downloading flag, repeats dropped.
    std::vector<std::string> ProgressTexts(int downloading) const;
    bool IsReady() const;

    void ShowProgress(const std::string& status, const std::string& percentText, int percent,
                      int downloading) override;
    void ShowProgressState() override { Add("ShowProgressState"); }
    void ShowMessageState() override { Add("ShowMessageState"); }
    void InitWebBrower() override { Add("InitWebBrower"); }
    void SetReady() override { Add("SetReady"); }

private:
    struct Progress {
        std::string status;
        std::string percentText;
        int downloading;
    };
    void Add(std::string call);

    mutable std::mutex m_mutex;
    std::vector<std::string> m_calls;
    std::vector<Progress> m_progress;
};

}  // namespace testing_support
