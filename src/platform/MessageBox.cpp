#include "platform/MessageBox.h"

#include <atomic>
#include <cstdio>
#include <iostream>

#include "platform/Executable.h"

namespace platform {
namespace {

std::atomic<MessagePresenter*> g_presenter{nullptr};

bool IsQuestion(unsigned type) {
    const unsigned buttons = type & kMbTypeMask;
    return buttons == kMbYesNo || buttons == kMbYesNoCancel;
}

}  // namespace

int ConsolePresenter::Present(const MessageBoxRequest& request) {
    if (!IsQuestion(request.type)) {
        std::cerr << request.caption << ": " << request.text << std::endl;
        return kIdOk;
    }
    std::cerr << request.caption << ": " << request.text << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        std::cerr << std::endl;
        return kIdNo;
    }
    return (answer == "y" || answer == "Y" || answer == "yes") ? kIdYes : kIdNo;
}

int ScriptedPresenter::Present(const MessageBoxRequest& request) {
    std::lock_guard lock(m_mutex);
    m_shown.push_back(request);
    if (!IsQuestion(request.type)) {
        return kIdOk;
    }
    if (m_answers.empty()) {
        return kIdNo;
    }
    const int answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

void ScriptedPresenter::QueueAnswer(int answer) {
    std::lock_guard lock(m_mutex);
    m_answers.push_back(answer);
}

std::vector<MessageBoxRequest> ScriptedPresenter::Shown() const {
    std::lock_guard lock(m_mutex);
    return m_shown;
}

void SetMessagePresenter(MessagePresenter* presenter) { g_presenter.store(presenter); }

int MessageBox(const std::string& text, const std::string& caption, unsigned type) {
    MessagePresenter* presenter = g_presenter.load();
    return (presenter != nullptr ? *presenter : SystemPresenter()).Present({text, caption, type});
}

int AfxMessageBox(const std::string& text, unsigned type) {
    if ((type & kMbIconMask) == 0) {
        type |= IsQuestion(type) ? kMbIconQuestion : kMbIconExclamation;
    }
    return MessageBox(text, ApplicationName(), type);
}

}  // namespace platform
