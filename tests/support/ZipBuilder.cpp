#include "ZipBuilder.h"

#include <sys/stat.h>
#include <zip.h>
#include <zlib.h>

#include <stdexcept>

#include "TempHome.h"

namespace testing_support {

ZipBuilder& ZipBuilder::Directory(const std::string& name) {
    m_entries.push_back({name, {}, 0755, true, true, false});
    return *this;
}

ZipBuilder& ZipBuilder::File(const std::string& name, const std::string& content, unsigned mode) {
    m_entries.push_back({name, content, mode, false, false, false});
    return *this;
}

ZipBuilder& ZipBuilder::StoredFile(const std::string& name, const std::string& content) {
    m_entries.push_back({name, content, 0644, false, true, false});
    return *this;
}

ZipBuilder& ZipBuilder::FileWithWrongChecksum(const std::string& name, const std::string& content) {
    m_entries.push_back({name, content, 0644, false, true, true});
    return *this;
}

void ZipBuilder::WriteTo(const std::string& path) const {
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (zip == nullptr) {
        throw std::runtime_error("zipOpen64 failed for " + path);
    }
    constexpr uLong kMadeOnUnix = (3u << 8) | 20u;
    for (const auto& entry : m_entries) {
        zip_fileinfo info{};
        info.tmz_date = {0, 0, 12, 8, 11, 2025};
        info.external_fa = static_cast<uLong>((entry.directory ? S_IFDIR : S_IFREG) | entry.mode) << 16;
        const bool raw = entry.wrongChecksum;
        const int method = entry.stored ? 0 : Z_DEFLATED;
        if (zipOpenNewFileInZip4_64(zip, entry.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, method,
                                    Z_DEFAULT_COMPRESSION, raw ? 1 : 0, -MAX_WBITS, DEF_MEM_LEVEL,
                                    Z_DEFAULT_STRATEGY, nullptr, 0, kMadeOnUnix, 0, 0) != ZIP_OK ||
            (!entry.content.empty() &&
             zipWriteInFileInZip(zip, entry.content.data(), static_cast<unsigned>(entry.content.size())) != ZIP_OK)) {
            zipClose(zip, nullptr);
            throw std::runtime_error("cannot add " + entry.name);
        }
        if (raw) {
            const uLong right = crc32(0, reinterpret_cast<const Bytef*>(entry.content.data()),
                                      static_cast<uInt>(entry.content.size()));
            zipCloseFileInZipRaw64(zip, entry.content.size(), right ^ 0xFFFFu);
        } else {
            zipCloseFileInZip(zip);
        }
    }
    if (zipClose(zip, nullptr) != ZIP_OK) {
        throw std::runtime_error("zipClose failed for " + path);
    }
}

std::string ZipBuilder::Bytes() const {
    TempDir dir;
    WriteTo(dir.path() + "/archive.zip");
    return ReadFile(dir.path() + "/archive.zip");
}

std::string SampleGameBytes() { return ReadFile(VALDRUNE_SAMPLE_GAME); }

ZipBuilder GamePackage(const std::string& gameBytes) {
    ZipBuilder package;
    package.Directory("zavo/")
        .File("zavo/zavo.exe", gameBytes, 0755)
        .Directory("zavo/data/")
        .File("zavo/data/world.dat", std::string(100000, 'w') + "end of world")
        .File("zavo/data/读我.txt", "数据文件\n")
        .File("readme.txt", "Valdrune client\r\n");
    return package;
}

}  // namespace testing_support
