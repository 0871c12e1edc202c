// The game package as the operator's server (or whoever stands in its way) delivers it: any
// bytes, unpacked the way the update unpacks a downloaded package, into a throw-away data and
// client folder that is removed after every input. Entry names, the containment check, sizes,
// checksums and the extraction itself meet what the archive says. Input: the package file.
//
// A cap keeps one input from filling the disk: no file this process writes may grow beyond
// kFileCap (a write past it fails, as on a full disk), so an archive that unpacks to more than
// that fails at its first large entry.

#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <string>

#include "FuzzSupport.h"
#include "core/DataPaths.h"
#include "core/MainWindow.h"
#include "update/CGameRemoteConfig.h"

namespace fs = std::filesystem;

namespace {

constexpr rlim_t kFileCap = 256 * 1024;

class NoWindow final : public MainWindow {
public:
    void ShowProgress(const std::string&, const std::string&, int percent, int) override {
        fuzzing::Check(percent >= 0 && percent <= 100, "unpacking progress outside 0 to 100 percent");
    }
    void ShowProgressState() override {}
    void ShowMessageState() override {}
    void InitWebBrower() override {}
    void SetReady() override {}
};

// Every path below root, which must not be a symbolic link: unpacking never makes one.
void CheckNoLinks(const fs::path& root) {
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
        fuzzing::Check(!it->is_symlink(), "unpacking made a symbolic link");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::QuietProcess();
    // The data folder sits one level below a folder of its own: whatever lands beside it has
    // left the data folder.
    static const std::string outer = [] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit cap{kFileCap, kFileCap};
        fuzzing::Check(setrlimit(RLIMIT_FSIZE, &cap) == 0, "cannot cap the size of written files");
        return fuzzing::ScratchFolder() + "/outer";
    }();
    CGameRemoteConfig::Settings settings;
    settings.dataDir = outer + "/data";
    settings.clientDir = settings.dataDir + "/client";
    fs::create_directory(outer);
    fs::create_directory(settings.dataDir);
    fs::create_directory(settings.clientDir);
    const std::string package = DataPaths::Package(settings.dataDir);
    fuzzing::WriteFile(package, fuzzing::AsText(data, size));

    CGameRemoteConfig config(settings);
    NoWindow window;
    config.OnUnzipFile(package, &window);

    for (const auto& entry : fs::directory_iterator(outer)) {
        fuzzing::Check(entry.path().filename() == "data", "unpacking wrote outside the data folder");
    }
    // Beside the client folder only the package itself may be left.
    for (const auto& entry : fs::directory_iterator(settings.dataDir)) {
        fuzzing::Check(entry.path() == settings.clientDir || entry.path() == package,
                       "unpacking left something in the data folder outside the client folder");
    }
    CheckNoLinks(settings.dataDir);
    fuzzing::EmptyFolder(outer);
    return 0;
}
