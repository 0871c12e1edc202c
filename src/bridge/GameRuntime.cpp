#include "bridge/GameRuntime.h"

#include <chrono>
#include <cstdint>

#include <fmt/printf.h>

#include "core/Logger.h"
#include "platform/FileSystem.h"
#include "platform/Wine.h"

namespace {

// The DOS header's pointer to the PE header. Real programs keep it within the first few hundred
// bytes; one beyond what is read is taken for no Windows program.
constexpr std::size_t kHeaderPointerOffset = 0x3C;
constexpr std::size_t kProgramStartBytes = 64 * 1024;

}  // namespace

bool IsWindowsProgram(std::string_view fileStart) {
    if (fileStart.size() < kHeaderPointerOffset + 4 || fileStart.substr(0, 2) != "MZ") {
        return false;
    }
    std::uint32_t offset = 0;
    for (int i = 3; i >= 0; --i) {
        offset = (offset << 8) |
                 static_cast<unsigned char>(fileStart[kHeaderPointerOffset + static_cast<std::size_t>(i)]);
    }
    return offset <= fileStart.size() - 4 && fileStart.substr(offset, 4) == std::string_view("PE\0\0", 4);
}

GameRuntime::GameRuntime(std::string gameProgram, std::string winePrefix)
    : m_gameProgram(std::move(gameProgram)), m_winePrefix(std::move(winePrefix)) {}

void GameRuntime::Prepare(const std::function<void(const std::string& status)>& showStatus) {
    constexpr const char* kFunction = "GameRuntime::Prepare";
    const auto start = platform::ReadFileStart(m_gameProgram, kProgramStartBytes);
    if (!start || !IsWindowsProgram(*start)) {
        m_kind = Kind::Native;
        return;
    }
    const auto loader = platform::FindWineLoader();
    if (!loader) {
        m_kind = Kind::NoWine;  // said at the launch, where the player asked for the game
        return;
    }
    m_wineLoader = *loader;
    if (platform::PathExists(m_winePrefix)) {
        m_kind = Kind::Wine;
        return;
    }

    LOG_INFO(kFunction, fmt::sprintf("making the wine prefix %s with %s", m_winePrefix, m_wineLoader));
    showStatus(kPreparingGameText);
    const auto began = std::chrono::steady_clock::now();
    const platform::WinePrefixResult made = platform::MakeWinePrefix(m_wineLoader, m_winePrefix);
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began);
    if (made.made) {
        LOG_INFO(kFunction, fmt::sprintf("wine prefix made in %d ms", static_cast<int>(took.count())));
        m_kind = Kind::Wine;
    } else {
        LOG_ERROR(kFunction, fmt::sprintf("wine prefix failed, wine exit status:%d", made.wineStatus));
        m_kind = Kind::NoPrefix;
    }
    showStatus(kUpdateDoneText);
}

GameCommand GameRuntime::ThroughWine(const GameCommand& native) const {
    GameCommand command;
    command.program = m_wineLoader;
    command.workingDir = native.workingDir;
    command.argv = {m_wineLoader, native.program};
    if (!native.argv.empty()) {
        command.argv.insert(command.argv.end(), native.argv.begin() + 1, native.argv.end());
    }
    command.environment = platform::WineEnvironmentFor(m_winePrefix);
    // A Windows game gets a console of its own there; here Wine's own messages would only reach
    // whoever reads the launcher's output, and its background processes would hold that open.
    command.silent = true;
    return command;
}
