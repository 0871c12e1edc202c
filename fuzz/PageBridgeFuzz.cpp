// The page bridge as the launcher serves it: every frame a web process could send, in any
// order, cut anywhere, from two processes at once, while the update worker declares the client
// ready at any moment. The bytes are answered by the launcher's real chain (the session the
// channel runs per connection, the automation object, the main window's and the overlay's
// dispatchers, the login and launch), with only the game process and the window stood in for.
// The launcher must answer with well-formed replies alone, hang up on a broken peer, and start
// the game at most once.

#include <algorithm>
#include <chrono>
#include <optional>

#include "FuzzSupport.h"
#include "PageBridgeInput.h"
#include "bridge/CImpIDispatch.h"
#include "bridge/LoginLaunch.h"
#include "bridge/MainWindowBridge.h"
#include "bridge/ScriptCalls.h"
#include "webext/ScriptProtocol.h"

namespace {

class CountingWindow final : public LaunchWindow {
public:
    void HideMainWindow() override { ++hidden; }
    void ShowStatus(const std::string&) override {}
    void Cancel() override { ++cancelled; }
    int hidden = 0;
    int cancelled = 0;
};

class CountingProcesses final : public GameProcesses {
public:
    platform::StartedProcess Start(const GameCommand&) override {
        ++started;
        return {4242, 0};
    }
    void MaximizeWindow(int) override {}
    void WaitForExit(int) override {}
    int started = 0;
};

// One web process's line: the session the channel keeps for it, and whether it was hung up on.
struct Line {
    explicit Line(ScriptDispatcher& dispatcher) : session(dispatcher) {}
    ScriptWire::ServerSession session;
    bool hungUp = false;
};

// Answers everything that has arrived on a line, the way the channel does after a read.
void Serve(Line& line) {
    while (!line.hungUp) {
        auto step = line.session.AnswerNext();
        if (step.kind == ScriptWire::ServerSession::Step::Kind::Wait) {
            return;
        }
        if (step.kind == ScriptWire::ServerSession::Step::Kind::HangUp) {
            line.hungUp = true;
            return;
        }
        // A reply is one whole frame holding one well-formed reply.
        const std::string& frame = step.text;
        fuzzing::Check(frame.size() >= ScriptWire::kHeaderBytes, "a reply frame lacks its header");
        char header[ScriptWire::kHeaderBytes];
        frame.copy(header, ScriptWire::kHeaderBytes);
        fuzzing::Check(ScriptWire::AnnouncedLength(header) == frame.size() - ScriptWire::kHeaderBytes,
                       "a reply frame announces another length than it has");
        const auto reply = ScriptWire::DecodeReply(std::string_view(frame).substr(ScriptWire::kHeaderBytes));
        fuzzing::Check(reply.has_value(), "the launcher sent a reply the web process cannot read");
        if (const auto* id = std::get_if<ScriptWire::DispatchId>(&*reply)) {
            fuzzing::Check(id->id == -1 || (id->id >= 1 && id->id <= 3), "a member id outside the object's three");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::QuietProcess();
    CountingWindow window;
    CountingProcesses processes;
    LaunchSettings settings;
    settings.clientDir = fuzzing::ScratchFolder();  // holds no game: started as it is, never through Wine
    settings.winePrefix = fuzzing::ScratchFolder() + "/wine";
    settings.launcherArgv = {"valdrune"};
    settings.customParameters = [] { return std::string("extra"); };
    settings.firstInstall = [] { return false; };
    settings.luaPathFile = fuzzing::ScratchFolder() + "/no luapath.txt";
    settings.maximizeDelay = std::chrono::milliseconds(0);
    LoginLaunch overlay(settings, window, processes);
    MainWindowBridge mainWindow;
    mainWindow.SetOverlay(&overlay);
    CImpIDispatch dispatch;
    dispatch.SetMainWindow(&mainWindow);
    AutomationScriptDispatcher dispatcher(dispatch);

    std::optional<Line> lines[2];
    lines[0].emplace(dispatcher);
    lines[1].emplace(dispatcher);
    for (std::size_t at = 0; at < size;) {
        const std::uint8_t control = data[at++];
        Line& line = *lines[control & 1];
        switch ((control >> 1) & 3) {
            case 0:
            case 1: {
                const std::size_t length = at < size ? data[at++] : 0;
                const std::size_t n = std::min(length, size - at);
                if (!line.hungUp) {
                    line.session.Receive(fuzzing::AsText(data + at, n));
                    Serve(line);
                }
                at += n;
                break;
            }
            case 2: mainWindow.SetReady(); break;
            default: lines[control & 1].emplace(dispatcher); break;
        }
    }
    fuzzing::Check(processes.started <= 1, "the game was started more than once");
    fuzzing::Check(window.hidden == processes.started && window.cancelled == processes.started,
                   "the window was hidden or closed without the game having run");
    return 0;
}
