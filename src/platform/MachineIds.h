#pragma once
// The serial numbers that identify this machine across runs and reinstalls.

#include <optional>
#include <string>

namespace platform {

// Each value is its file's text without the final line end; nullopt when the file cannot be
// read. The two DMI serials are readable by root only on most systems.
std::optional<std::string> BoardSerial(const std::string& sysRoot = "/sys");    // class/dmi/id/board_serial
std::optional<std::string> ProductSerial(const std::string& sysRoot = "/sys");  // class/dmi/id/product_serial
std::optional<std::string> MachineId(const std::string& etcRoot = "/etc");      // machine-id

}  // namespace platform
