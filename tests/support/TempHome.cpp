#include "TempHome.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace testing_support {

#ifdef _WIN32
// Windows has neither mkdtemp nor setenv; the C runtime's environment is what getenv reads.
namespace {
int setenv(const char* name, const char* value, int) { return ::_putenv_s(name, value); }
int unsetenv(const char* name) { return ::_putenv_s(name, ""); }
}  // namespace

TempDir::TempDir() {
    std::random_device random;
    for (;;) {
        const fs::path candidate = fs::temp_directory_path() / ("valdrune-test-" + std::to_string(random()));
        if (fs::create_directory(candidate)) {
            m_path = candidate.string();
            return;
        }
    }
}
#else
TempDir::TempDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/valdrune-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = pattern;
}
#endif

TempDir::~TempDir() {
    std::error_code ec;
    // Tests make folders read-only on purpose; give the owner access back before removing.
    for (auto it = fs::recursive_directory_iterator(m_path, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
    }
    fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(m_path, ec);
}

TempHome::TempHome() {
    for (const auto& dir : {home(), dataHome(), configHome(), home() + "/Desktop", runtimeDir()}) {
        fs::create_directories(dir);
    }
    fs::permissions(runtimeDir(), fs::perms::owner_all, fs::perm_options::replace);
    for (const auto& [name, value] : Environment()) {
        if (name != "PATH" && name != "LANG") {
            Set(name, value);
        }
    }
}

TempHome::~TempHome() {
    for (const auto& [name, value] : m_saved) {
        if (value) {
            setenv(name.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }
}

std::map<std::string, std::string> TempHome::Environment() const {
    const char* path = std::getenv("PATH");
    return {
        {"HOME", home()},
        {"XDG_DATA_HOME", dataHome()},
        {"XDG_CONFIG_HOME", configHome()},
        {"XDG_RUNTIME_DIR", runtimeDir()},
        {"PATH", path != nullptr ? path : "/usr/bin:/bin"},
        {"LANG", "C.UTF-8"},
    };
}

void TempHome::Set(const std::string& name, const std::optional<std::string>& value) {
    if (!m_saved.contains(name)) {
        const char* old = std::getenv(name.c_str());
        m_saved[name] = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) {
        setenv(name.c_str(), value->c_str(), 1);
    } else {
        unsetenv(name.c_str());
    }
}

namespace {
// Paths are UTF-8 text; Windows' narrow file calls would read them in the ANSI code page.
fs::path Utf8Path(const std::string& path) { return fs::path(std::u8string(path.begin(), path.end())); }
}  // namespace

std::string ReadFile(const std::string& path) {
    std::ifstream in(Utf8Path(path), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(Utf8Path(path), std::ios::binary | std::ios::trunc);
    out << content;
}

void MakeDirs(const std::string& path) { fs::create_directories(path); }

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    auto pause = 1ms;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= end) {
            return condition();
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
}

}  // namespace testing_support
