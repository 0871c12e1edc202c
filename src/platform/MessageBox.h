#pragma once
// Message boxes with the Windows flags and answers the launcher is written against. Who shows
// them is a replaceable presenter: MessageBoxW on Windows, a GTK dialog in the windowed Linux
// launcher, one line on stderr without a display, and a scripted one in tests.

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

inline constexpr unsigned kMbOk = 0x0;
inline constexpr unsigned kMbOkCancel = 0x1;
inline constexpr unsigned kMbYesNoCancel = 0x3;
inline constexpr unsigned kMbYesNo = 0x4;
inline constexpr unsigned kMbTypeMask = 0xF;
inline constexpr unsigned kMbIconError = 0x10;
inline constexpr unsigned kMbIconQuestion = 0x20;
inline constexpr unsigned kMbIconExclamation = 0x30;
inline constexpr unsigned kMbIconInformation = 0x40;
inline constexpr unsigned kMbIconMask = 0xF0;

inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

struct MessageBoxRequest {
    std::string text;
    std::string caption;
    unsigned type = kMbOk;
    bool operator==(const MessageBoxRequest&) const = default;
};

class MessagePresenter {
public:
    virtual ~MessagePresenter() = default;
    // Shows the box and blocks until it is answered: kIdOk, kIdYes or kIdNo.
    virtual int Present(const MessageBoxRequest& request) = 0;
};

// "<caption>: <text>" on stderr. A Yes/No question reads one line from stdin: "y" or "yes"
// answers Yes; anything else, or no input at all, answers No, the safe choice.
class ConsolePresenter final : public MessagePresenter {
public:
    int Present(const MessageBoxRequest& request) override;
};

// Records every box; questions take their answers from a queue (No once it is empty).
class ScriptedPresenter final : public MessagePresenter {
public:
    int Present(const MessageBoxRequest& request) override;
    void QueueAnswer(int answer);
    std::vector<MessageBoxRequest> Shown() const;

private:
    mutable std::mutex m_mutex;  // boxes may come from any thread
    std::vector<MessageBoxRequest> m_shown;
    std::deque<int> m_answers;
};

// The presenter used while none is installed: MessageBoxW with no owner window on Windows, a
// ConsolePresenter on Linux.
MessagePresenter& SystemPresenter();

// Installs the process-wide presenter (not owned); nullptr restores the system presenter.
void SetMessagePresenter(MessagePresenter* presenter);

// MessageBoxW with no owner window.
int MessageBox(const std::string& text, const std::string& caption, unsigned type);

// The framework's box: the application name as caption, and when no icon is asked for, the
// exclamation icon for OK boxes and the question icon for Yes/No boxes.
int AfxMessageBox(const std::string& text, unsigned type = kMbOk);

}  // namespace platform
