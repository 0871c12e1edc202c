// The reports' addresses: every text a report carries ends up in one GET query, escaped as one
// value, so no message (a download address, a system error text) and no machine fact (the
// processor's name, the kernel's release) may add a key, end the query or break the address.
// Input: the message, the processor information file and the kernel release, separated by NUL.

#include <filesystem>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "platform/posix/Linux.h"
#include "core/ProductConstants.h"
#include "telemetry/EventLoop.h"
#include "telemetry/MachineProfile.h"
#include "telemetry/WebLogger.h"

namespace {

std::string_view NextField(std::string_view& input) {
    const std::size_t cut = input.find('\0');
    const std::string_view field = input.substr(0, cut);
    input = cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1);
    return field;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// What the operator's server reads from an escaped value.
std::string PercentDecode(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '%' && i + 2 < value.size() && HexDigit(value[i + 1]) >= 0 && HexDigit(value[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(value[i + 1]) * 16 + HexDigit(value[i + 2]));
            i += 2;
        } else {
            out += value[i];
        }
    }
    return out;
}

// A value that can travel in a query as it is: printable ASCII, none of what ends a value, the
// query or the address.
bool SafeInQuery(std::string_view value) {
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7f || c == '&' || c == '#' || c == '?' || c == '/' || c == '+' || c == '"' ||
            c == '<' || c == '>' || c == '\\') {
            return false;
        }
    }
    return true;
}

// The query's keys and values in order; the address must be base followed by "?".
std::vector<std::pair<std::string, std::string>> QueryOf(const std::string& url, const std::string& base) {
    fuzzing::Check(url.compare(0, base.size() + 1, base + "?") == 0, "a report address lost its base");
    std::vector<std::pair<std::string, std::string>> pairs;
    std::string_view query = std::string_view(url).substr(base.size() + 1);
    while (true) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        const std::size_t eq = pair.find('=');
        fuzzing::Check(eq != std::string_view::npos, "a report query holds a piece without a key");
        pairs.emplace_back(std::string(pair.substr(0, eq)), std::string(pair.substr(eq + 1)));
        if (amp == std::string_view::npos) {
            return pairs;
        }
        query.remove_prefix(amp + 1);
    }
}

void CheckQuery(const std::vector<std::pair<std::string, std::string>>& query, const char* lastKey) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : query) {
        keys.push_back(key);
        fuzzing::Check(SafeInQuery(value), "a report value carries a character that breaks the query");
    }
    std::vector<std::string> expected = {"client_uid", "ditch_name", "mac", "os_version"};
    if (lastKey != nullptr) {
        expected.emplace_back(lastKey);
    }
    fuzzing::Check(keys == expected, "a report query has other keys than its own");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::QuietProcess();
    static const std::string root = fuzzing::ScratchFolder() + "/machine";
    static StandaloneEventLoop loop;
    static MachineProfile profile;
    static WebLogger reports(loop, std::string(ProductConstants::kInfoReportUrl),
                             std::string(ProductConstants::kErrorReportUrl), profile);

    std::string_view input = fuzzing::AsText(data, size);
    const std::string message(NextField(input));
    const std::string cpuInfo(NextField(input));
    const std::string release(NextField(input));

    std::filesystem::create_directories(root + "/proc");
    fuzzing::WriteFile(root + "/proc/cpuinfo", cpuInfo);
    MachineSources sources;
    sources.processorName = [] { return platform::ProcessorName(root + "/proc"); };
    sources.adapters = [] { return platform::ListNetworkAdapters(root + "/sys", root + "/proc"); };
    sources.systemVersion = [&release] { return std::optional<std::string>(release); };
    sources.serials = [] {
        return platform::MachineSerials{platform::BoardSerial(root + "/sys"), platform::ProductSerial(root + "/sys"),
                                        platform::MachineId(root + "/etc")};
    };
    sources.addressSpace = [] { return std::uint64_t{0x7FFE0000}; };
    profile = MachineProfile(sources);

    const std::string messageUrl = reports.MessageReportUrl(message);
    const auto messageQuery = QueryOf(messageUrl, std::string(ProductConstants::kErrorReportUrl));
    CheckQuery(messageQuery, "error_msg");
    if (message.find('%') == std::string::npos) {
        fuzzing::Check(PercentDecode(messageQuery.back().second) == message,
                       "the server reads a different message than was reported");
    }
    if (profile.SystemText().find('%') == std::string::npos) {
        fuzzing::Check(PercentDecode(messageQuery[3].second).rfind(profile.SystemText(), 0) == 0,
                       "the server reads a different system text than was reported");
    }

    for (const int event : {EventCreate, EventDownloadStart, EventUnzipStart, EventUnzipFinish, EventGameStart}) {
        const auto query = QueryOf(reports.EventReportUrl(event), std::string(ProductConstants::kInfoReportUrl));
        CheckQuery(query, event == EventUnzipFinish ? nullptr : "ac");
    }
    return 0;
}
