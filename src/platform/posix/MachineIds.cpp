#include "platform/MachineIds.h"

#include "platform/posix/Linux.h"
#include "platform/posix/TextFiles.h"

namespace platform {
namespace {

std::optional<std::string> ReadValue(const std::string& path) {
    auto text = posix::ReadTextFile(path);
    if (!text) {
        return std::nullopt;
    }
    return posix::WithoutFinalNewline(std::move(*text));
}

}  // namespace

std::optional<std::string> BoardSerial(const std::string& sysRoot) {
    return ReadValue(sysRoot + "/class/dmi/id/board_serial");
}

std::optional<std::string> ProductSerial(const std::string& sysRoot) {
    return ReadValue(sysRoot + "/class/dmi/id/product_serial");
}

std::optional<std::string> MachineId(const std::string& etcRoot) { return ReadValue(etcRoot + "/machine-id"); }

MachineSerials ReadMachineSerials() { return {BoardSerial("/sys"), ProductSerial("/sys"), MachineId("/etc")}; }

}  // namespace platform
