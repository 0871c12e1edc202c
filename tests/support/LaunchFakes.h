#pragma once
// The main window and the game processes as a launch sees them, recording every step in order
// (either may stand in alone, beside the real other).

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge/LoginLaunch.h"

class RecordingLaunchTarget final : public LaunchWindow, public GameProcesses {
public:
    static constexpr int kGamePid = 4242;
    using Clock = std::chrono::steady_clock;

    platform::StartedProcess Start(const GameCommand& command) override {
        std::lock_guard lock(m_mutex);
        m_commands.push_back(command);
        m_startThreads.push_back(std::this_thread::get_id());
        m_steps.push_back("start");
        m_startTime = Clock::now();
        return m_failStart ? platform::StartedProcess{-1, 2} : platform::StartedProcess{kGamePid, 0};
    }
    void MaximizeWindow(int pid) override {
        std::lock_guard lock(m_mutex);
        m_steps.push_back("maximize " + std::to_string(pid));
        m_maximizeTime = Clock::now();
    }
    void WaitForExit(int pid) override { Step("wait " + std::to_string(pid)); }
    void HideMainWindow() override { Step("hide"); }
    void ShowStatus(const std::string& text) override { Step("status " + text); }
    void Cancel() override { Step("cancel"); }

    void FailStart() { m_failStart = true; }
    std::vector<std::string> Steps() const {
        std::lock_guard lock(m_mutex);
        return m_steps;
    }
    std::vector<GameCommand> Commands() const {
        std::lock_guard lock(m_mutex);
        return m_commands;
    }
    std::vector<std::thread::id> StartThreads() const {
        std::lock_guard lock(m_mutex);
        return m_startThreads;
    }
    Clock::duration MaximizeDelay() const {
        std::lock_guard lock(m_mutex);
        return m_maximizeTime - m_startTime;
    }

private:
    void Step(std::string step) {
        std::lock_guard lock(m_mutex);
        m_steps.push_back(std::move(step));
    }

    mutable std::mutex m_mutex;  // the login and the worker thread both reach these
    bool m_failStart = false;
    std::vector<std::string> m_steps;
    std::vector<GameCommand> m_commands;
    std::vector<std::thread::id> m_startThreads;
    Clock::time_point m_startTime{};
    Clock::time_point m_maximizeTime{};
};
