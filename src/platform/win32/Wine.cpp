#include "platform/Wine.h"

// Windows runs the game itself: there is no Wine to find, no prefix to make or end.
namespace platform {

bool RunsWindowsProgramsNatively() { return true; }

std::optional<std::string> FindWineLoader() { return std::nullopt; }

std::vector<std::string> WineEnvironment(std::vector<std::string> environment, const std::string& /*prefix*/) {
    return environment;
}

std::vector<std::string> WineEnvironmentFor(const std::string& /*prefix*/) { return {}; }

WinePrefixResult MakeWinePrefix(const std::string& /*loader*/, const std::string& /*prefix*/) { return {}; }

void EndWineServer(const std::string& /*prefix*/) {}

}  // namespace platform
