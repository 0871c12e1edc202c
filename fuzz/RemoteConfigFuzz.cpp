// The operator's configuration document as the fetch receives it: the body arrives in chunks
// through the transfer's write callback, is parsed into the configuration table, and every key
// the launcher reads is looked up and used the way the update uses it. Input: one byte that
// sets the chunk size (1 to 256), then the body.

#include <algorithm>
#include <string>

#include "FuzzSupport.h"
#include "core/ProductConstants.h"
#include "update/CGameRemoteConfig.h"

namespace {

constexpr const char* kReadKeys[] = {"EntryUrl",          "CustomParameters",    "ClientVersion",
                                     "ClientMiniUpdateVersion", "ClientDownloadUrl", "Client32DownloadUrl",
                                     "ClientDownloadUrl2"};

// A table entry is one line's key and value: neither may hold what separates lines or entries.
void CheckEntry(const CGameRemoteConfig& config, const std::string& key) {
    std::string value;
    if (!config.FindConfigValue(key, value)) {
        return;
    }
    fuzzing::Check(key.find('\n') == std::string::npos && key.find('=') == std::string::npos,
                   "a configuration key spans a line break or an equals sign");
    fuzzing::Check(value.find('\n') == std::string::npos && value.find('=') == std::string::npos,
                   "a configuration value spans a line break or an equals sign");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::QuietProcess();
    if (size == 0) {
        return 0;
    }
    const std::size_t chunk = 1 + static_cast<std::size_t>(data[0]);
    CGameRemoteConfig::ConfigBody received;
    for (std::size_t at = 1; at < size; at += chunk) {
        const std::size_t n = std::min(chunk, size - at);
        // Past the size limit the sink stops the transfer; below it every piece is taken.
        const std::size_t taken = received.OnBody(reinterpret_cast<const char*>(data + at), n);
        fuzzing::Check(taken == (received.received <= CGameRemoteConfig::kLongestConfigBody ? n : 0),
                       "the configuration body refused a piece below the limit");
    }
    const std::string& body = received.text;

    CGameRemoteConfig::Settings settings;
    settings.dataDir = settings.clientDir = fuzzing::ScratchFolder();
    CGameRemoteConfig config(settings);
    config.LoadRemoteConfig(body);

    for (const char* key : kReadKeys) {
        CheckEntry(config, key);
    }
    // Keys as the document spells them, the first lines' included.
    for (std::size_t start = 0, lines = 0; start < body.size() && lines < 8; ++lines) {
        const std::size_t end = body.find('\n', start);
        const std::string line = body.substr(start, end == std::string::npos ? std::string::npos : end - start);
        CheckEntry(config, line.substr(0, line.find('=')));
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }

    // What the update does with the values.
    std::string versionText;
    LocalClientVersion offered;
    if (config.FindConfigValue("ClientVersion", versionText)) {
        config.CStringToLocalClientVersion(offered, versionText);
    }
    std::string text;
    if (config.FindConfigValue("ClientMiniUpdateVersion", text)) {
        LocalClientVersion minimum;
        config.CStringToLocalClientVersion(minimum, text);
    }
    for (const char* key : {"ClientDownloadUrl", "Client32DownloadUrl", "ClientDownloadUrl2"}) {
        if (config.FindConfigValue(key, text)) {
            const std::string address = FillAddressTemplate(text, ProductConstants::kDitchName, versionText);
            fuzzing::Check(address.find('\n') == std::string::npos, "a package address spans a line break");
        }
    }
    std::string entry;
    fuzzing::Check(config.GetEntryUrl() == (config.FindConfigValue("EntryUrl", entry) ? entry : ""),
                   "the entry address differs from its configuration value");
    return 0;
}
