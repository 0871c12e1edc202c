#pragma once
// The serial numbers that identify this machine across runs and reinstalls.

#include <optional>
#include <string>

namespace platform {

// Each serial is nullopt when it cannot be read. Windows: the SerialNumber of WMI's
// Win32_BaseBoard, Win32_BIOS and Win32_OperatingSystem (a failed WMI step leaves all three
// unread; a value that is not text reads as empty). Linux: the DMI board and product serials
// (readable by root only on most systems) and the machine id.
struct MachineSerials {
    std::optional<std::string> board;
    std::optional<std::string> bios;
    std::optional<std::string> system;
};
MachineSerials ReadMachineSerials();

}  // namespace platform
