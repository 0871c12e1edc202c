// The resume record "tempdownload.dat" as an earlier run may have left it: cut by a crash at any
// byte, edited by hand, or not written by the launcher at all. Input: the file's content.

#include <string>

#include "FuzzSupport.h"
#include "core/DataPaths.h"
#include "update/CGameRemoteConfig.h"
#include "update/ResumeRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::QuietProcess();
    CGameRemoteConfig::Settings settings;
    settings.dataDir = settings.clientDir = fuzzing::ScratchFolder();
    fuzzing::WriteFile(DataPaths::ResumeRecord(settings.dataDir), fuzzing::AsText(data, size));
    CGameRemoteConfig config(settings);

    // What the update worker reads at its start.
    const std::string offsetText = config.ReadResumeValue("offset");
    const std::string totalText = config.ReadResumeValue("totalSize");
    const std::string versionText = config.ReadResumeValue("downloadVersion");
    for (const std::string* value : {&offsetText, &totalText, &versionText}) {
        fuzzing::Check(value->size() <= 99 && value->find('\n') == std::string::npos,
                       "a resume value is longer than one record line");
    }
    const std::int64_t offset = ParseDecimal64(offsetText);
    const std::int64_t totalSize = ParseDecimal64(totalText);
    LocalClientVersion version;
    config.CStringToLocalClientVersion(version, versionText);

    // The record the next close writes from that state must carry the same state on.
    const std::string written = FormatResumeRecord(version, offset, totalSize);
    fuzzing::Check(ParseDecimal64(FindResumeValue(written, "offset")) == offset &&
                       ParseDecimal64(FindResumeValue(written, "totalSize")) == totalSize &&
                       ParseVersionText(FindResumeValue(written, "downloadVersion")) == version,
                   "a written resume record reads back a different state");
    return 0;
}
