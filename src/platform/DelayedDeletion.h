#pragma once
// Removing a folder once the launcher has ended, so that the running executable can go with its
// folder. Windows: a hidden cmd.exe, created suspended, that once let go waits a few seconds and
// runs "rmdir /q /s" on the folder. Linux: a /bin/sh in a session of its own, with no terminal and
// no output, waits until its trigger is let go and then runs rm -rf on the folder. The folder
// reaches the shell as an argument, never as part of its script, so blanks, quotes and "$" in the
// name are plain characters.

#include <cstdint>
#include <string>

namespace platform {

// Folders that are never removed whole: an empty, relative or unnormalised path (a trailing
// separator, an empty, "." or ".." level), the root, the user's home (profile) and every folder
// that holds it (by name and with links resolved); on Windows also any path with a character
// the command interpreter would read as syntax.
bool IsProtectedFolder(const std::string& path);

class DelayedFolderDeletion {
public:
    // Starts the waiting shell. error() is 0, kErrorInvalidParameter for a protected folder
    // (nothing is started), or why the shell could not be started.
    static DelayedFolderDeletion Start(const std::string& folder);

    DelayedFolderDeletion(DelayedFolderDeletion&& other) noexcept;
    DelayedFolderDeletion& operator=(DelayedFolderDeletion&& other) noexcept;
    DelayedFolderDeletion(const DelayedFolderDeletion&) = delete;
    DelayedFolderDeletion& operator=(const DelayedFolderDeletion&) = delete;
    ~DelayedFolderDeletion();  // lets go of the trigger: the removal begins

    std::uint32_t error() const { return m_error; }
    int pid() const { return m_pid; }  // the shell's process id, > 0 once started

    // The removal begins now.
    void Release();
    // The removal begins when this process has ended, however it ends (Linux: the trigger is the
    // write end of a pipe, and only the end of the process closes it; Windows: the shell starts
    // now and waits a few seconds before it removes anything).
    void ReleaseAtExit();

private:
    DelayedFolderDeletion() = default;

    std::intptr_t m_trigger = -1;  // Linux: the pipe's write end; Windows: the shell's suspended thread
    int m_pid = -1;
    std::uint32_t m_error = 0;
};

// Starts the removal of folder for when this process has ended: 0, or as error() above.
std::uint32_t DeleteFolderAfterExit(const std::string& folder);

}  // namespace platform
