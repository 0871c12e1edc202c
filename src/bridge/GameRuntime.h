#pragma once
// How the game client runs on this system: a Linux program directly, a Windows program through
// Wine in the launcher's own prefix inside the data folder (the game client of the real package
// is a Windows program). The prefix takes some seconds to make the first time; it is made once
// the client is ready, on the update worker, so that the window stays live meanwhile and a login
// that comes later starts the game at once.

#include <functional>
#include <string>
#include <string_view>

#include "bridge/GameCommand.h"

// The status text while the prefix is being made, and the one it gives way to afterwards (the
// update's last word, which it replaced).
inline constexpr const char* kPreparingGameText = "正在准备游戏运行环境...";
inline constexpr const char* kUpdateDoneText = "更新已完成";
// The box when the game is a Windows program and no Wine is installed.
inline constexpr const char* kNoWineText = "无法启动游戏：未找到 Wine，请先安装 Wine。";

// True when fileStart, the first bytes of a file, begins a Windows program: "MZ", and at the
// offset the DOS header gives at 0x3C (32 bits, little-endian) the signature "PE\0\0" within
// fileStart.
bool IsWindowsProgram(std::string_view fileStart);

class GameRuntime {
  public:
    enum class Kind {
        Native,    // not a Windows program (or not there at all): started as it is
        Wine,      // a Windows program, Wine found and its prefix made
        NoWine,    // a Windows program, and no Wine installed
        NoPrefix,  // a Windows program, and Wine failed to make the prefix
    };

    // gameProgram: the game's executable; winePrefix: the launcher's prefix (<data>/wine).
    GameRuntime(std::string gameProgram, std::string winePrefix);

    // Update worker, once the client is ready: looks at the game and, for a Windows program, finds
    // Wine and makes the prefix unless it is made already, showing kPreparingGameText meanwhile
    // and kUpdateDoneText after. Blocks for as long as Wine takes. What it found is read by the
    // launching thread afterwards; the launch decision's lock orders the two.
    void Prepare(const std::function<void(const std::string& status)>& showStatus);

    Kind kind() const { return m_kind; }

    // The command that starts native (the game's own) through Wine: the loader, the game's path
    // and the game's arguments after its argv[0], which Wine replaces with the game's Windows
    // path; the same working folder, Wine's environment, Wine's output discarded. Kind::Wine only.
    GameCommand ThroughWine(const GameCommand& native) const;

  private:
    const std::string m_gameProgram;
    const std::string m_winePrefix;
    std::string m_wineLoader;
    Kind m_kind = Kind::Native;
};
