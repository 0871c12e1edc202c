#pragma once
// What only the Linux backend has: the files behind the portable calls, with their roots
// replaceable so that tests can hand in a fake /proc, /sys or /etc, and the files that stand in
// for Windows objects (the instance lock, the registry store, desktop entries). The portable
// headers' calls without a root read the real system.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/NetworkAdapters.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "platform/ShellLink.h"

namespace platform {

// The value of the first "model name" line of <procRoot>/cpuinfo, exactly as written after its
// ": "; nullopt when the file cannot be read or has no such line.
std::optional<std::string> ProcessorName(const std::string& procRoot);

// The interfaces of <sysRoot>/class/net by interface index, the loopback left out, each with the
// gateway of its first default route in <procRoot>/net/route. nullopt when the interface folder
// cannot be listed.
std::optional<std::vector<NetworkAdapter>> ListNetworkAdapters(const std::string& sysRoot, const std::string& procRoot);

// Each value is its file's text without the final line end; nullopt when it cannot be read.
std::optional<std::string> BoardSerial(const std::string& sysRoot);    // class/dmi/id/board_serial
std::optional<std::string> ProductSerial(const std::string& sysRoot);  // class/dmi/id/product_serial
std::optional<std::string> MachineId(const std::string& etcRoot);      // machine-id

// "MemTotal" of <procRoot>/meminfo, else sysinfo's total; 0 when neither answers.
std::uint64_t TotalPhysicalMemory(const std::string& procRoot);

// uname's release text, for example "6.1.0-18-amd64"; nullopt when uname fails.
std::optional<std::string> KernelRelease();
// The same text as <procRoot>/sys/kernel/osrelease publishes it (without its line end).
std::optional<std::string> KernelReleaseFile(const std::string& procRoot);

// The short name (<procRoot>/<pid>/comm) of every process listed there.
std::optional<std::vector<std::string>> RunningProcessNames(const std::string& procRoot);

// The file a NamedMutex locks: $XDG_RUNTIME_DIR/<name>.lock, or /tmp/<name>-<uid>.lock without
// a runtime folder.
std::string LockFilePath(const std::string& mutexName);

// The file that stores a hive, or nullopt when the configuration home is unknown.
std::optional<std::string> RegistryHiveFile(RegistryHive hive);

// The whole desktop entry written for link.
std::string DesktopEntryText(const ShellLink& link);

// StartProcess with the child's stdin read from stdinFd instead of /dev/null.
StartedProcess StartProcess(const ProcessStart& start, int stdinFd);

}  // namespace platform
