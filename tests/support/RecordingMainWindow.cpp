#include "RecordingMainWindow.h"

#include <algorithm>

namespace testing_support {

void RecordingMainWindow::Add(std::string call) {
    std::lock_guard lock(m_mutex);
    m_calls.push_back(std::move(call));
}

void RecordingMainWindow::ShowProgress(const std::string& status, const std::string& percentText, int percent,
                                       int downloading) {
    std::lock_guard lock(m_mutex);
    m_calls.push_back("ShowProgress(" + status + "|" + percentText + "|" + std::to_string(percent) + "|" +
                      std::to_string(downloading) + ")");
    m_progress.push_back({status, percentText, downloading});
}

std::vector<std::string> RecordingMainWindow::Calls() const {
    std::lock_guard lock(m_mutex);
    return m_calls;
}

std::vector<std::string> RecordingMainWindow::Messages() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> messages;
    for (const auto& p : m_progress) {
        if (!p.status.empty()) {
            messages.push_back(p.status);
        }
    }
    return messages;
}

std::vector<std::string> RecordingMainWindow::ProgressTexts(int downloading) const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> texts;
    for (const auto& p : m_progress) {
        if (p.status.empty() && p.downloading == downloading && (texts.empty() || texts.back() != p.percentText)) {
            texts.push_back(p.percentText);
        }
    }
    return texts;
}

bool RecordingMainWindow::IsReady() const {
    std::lock_guard lock(m_mutex);
    return std::find(m_calls.begin(), m_calls.end(), "SetReady") != m_calls.end();
}

}  // namespace testing_support
