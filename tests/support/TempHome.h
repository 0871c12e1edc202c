#pragma once
// A private world for one test: a fresh temporary folder that HOME and the XDG variables point
// into, restored when the object goes away.

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace testing_support {

using namespace std::chrono_literals;

// A new empty folder below $TMPDIR (or /tmp), removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

class TempHome {
public:
    // Creates home/, home/.local/share, home/.config, home/Desktop and runtime/ and points
    // HOME, XDG_DATA_HOME, XDG_CONFIG_HOME and XDG_RUNTIME_DIR at them.
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::string& root() const { return m_dir.path(); }
    std::string home() const { return root() + "/home"; }
    std::string dataHome() const { return home() + "/.local/share"; }
    std::string configHome() const { return home() + "/.config"; }
    std::string runtimeDir() const { return root() + "/runtime"; }
    std::string dataDir() const { return dataHome() + "/zavo-drevoline"; }
    std::string clientDir() const { return dataDir() + "/client"; }

    // The variables a child process needs to live in this world (plus PATH and LANG).
    std::map<std::string, std::string> Environment() const;

    // Sets or unsets (nullopt) a variable for the rest of this object's life.
    void Set(const std::string& name, const std::optional<std::string>& value);

private:
    TempDir m_dir;
    std::map<std::string, std::optional<std::string>> m_saved;
};

// Small file helpers for tests.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
void MakeDirs(const std::string& path);

// Polls condition until it holds or the deadline passes; true when it held.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline = 30s);

}  // namespace testing_support
