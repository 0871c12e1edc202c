#include "FuzzSupport.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "core/Logger.h"
#include "core/Reports.h"
#include "platform/MessageBox.h"

namespace fuzzing {
namespace {

class CountingPresenter final : public platform::MessagePresenter {
public:
    int Present(const platform::MessageBoxRequest& request) override {
        ++shown;
        return (request.type & 0xF) == platform::kMbYesNo ? platform::kIdNo : platform::kIdOk;
    }
    std::size_t shown = 0;
};

CountingPresenter g_presenter;

struct Scratch {
    Scratch() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/valdrune-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        path = pattern;
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

}  // namespace

void QuietProcess() {
    static std::once_flag once;
    std::call_once(once, [] {
        // A logger whose file cannot be opened drops every line after formatting it.
        static Logger silent(ScratchFolder() + "/no such folder/fuzz.log");
        Logger::Redirect(&silent);
        platform::SetMessagePresenter(&g_presenter);
        SetReportSink(nullptr);
    });
}

std::size_t MessageBoxesShown() { return g_presenter.shown; }

const std::string& ScratchFolder() {
    static Scratch scratch;
    return scratch.path;
}

void EmptyFolder(const std::string& folder) {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
        std::filesystem::remove_all(entry.path(), ignored);
    }
}

void WriteFile(const std::string& path, std::string_view content) {
    // Rewritten in place and then cut to length: a file emptied and refilled (or replaced by a
    // rename) makes ext4 write it out on close, which would cost milliseconds per input.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    Check(fd >= 0, "the fuzz target cannot open its scratch file");
    const bool written = ::pwrite(fd, content.data(), content.size(), 0) == static_cast<ssize_t>(content.size()) &&
                         ::ftruncate(fd, static_cast<off_t>(content.size())) == 0;
    ::close(fd);
    Check(written, "the fuzz target cannot write its scratch file");
}

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

}  // namespace fuzzing
