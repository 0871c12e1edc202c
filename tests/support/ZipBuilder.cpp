#include "ZipBuilder.h"

#include <sys/stat.h>
#include <zlib.h>

#include <stdexcept>

#include "TempHome.h"

namespace testing_support {
namespace {

constexpr std::uint16_t kMadeOnUnix = (3u << 8) | 20u;
constexpr std::uint16_t kNeeded = 20;
constexpr std::uint16_t kDosDate = ((2025 - 1980) << 9) | (12 << 5) | 8;  // 2025-12-08
constexpr std::uint16_t kDosTime = 12 << 11;

void Put16(std::string& out, std::uint32_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

std::string Deflate(const std::string& content) {
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2 failed");
    }
    std::string out(deflateBound(&z, content.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    z.avail_in = static_cast<uInt>(content.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) {
        throw std::runtime_error("deflate failed");
    }
    return out;
}

}  // namespace

ZipBuilder& ZipBuilder::Directory(const std::string& name) {
    m_entries.push_back({name, {}, 0755, true, true, false, 0});
    return *this;
}

ZipBuilder& ZipBuilder::File(const std::string& name, const std::string& content, unsigned mode) {
    m_entries.push_back({name, content, mode, false, false, false, content.size()});
    return *this;
}

ZipBuilder& ZipBuilder::StoredFile(const std::string& name, const std::string& content) {
    m_entries.push_back({name, content, 0644, false, true, false, content.size()});
    return *this;
}

ZipBuilder& ZipBuilder::FileWithWrongChecksum(const std::string& name, const std::string& content) {
    m_entries.push_back({name, content, 0644, false, true, true, content.size()});
    return *this;
}

ZipBuilder& ZipBuilder::FileDeclaring(const std::string& name, const std::string& content,
                                      std::uint64_t declaredSize) {
    m_entries.push_back({name, content, 0644, false, false, false, declaredSize});
    return *this;
}

std::string ZipBuilder::Bytes() const {
    std::string archive;
    std::string directory;
    for (const auto& entry : m_entries) {
        const std::string data = entry.stored ? entry.content : Deflate(entry.content);
        std::uint32_t crc =
            static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(entry.content.data()),
                                             static_cast<uInt>(entry.content.size())));
        if (entry.wrongChecksum) {
            crc ^= 0xFFFFu;
        }
        if (data.size() > 0xFFFFFFFEu || entry.declaredSize > 0xFFFFFFFEu || archive.size() > 0xFFFFFFFEu) {
            throw std::runtime_error("test archives stay below 4 GiB: " + entry.name);
        }
        const std::uint16_t method = entry.stored ? 0 : Z_DEFLATED;
        const auto declared = static_cast<std::uint32_t>(entry.declaredSize);
        const auto offset = static_cast<std::uint32_t>(archive.size());
        // Local header, then the data.
        Put32(archive, 0x04034b50);
        for (std::uint32_t field : {std::uint32_t{kNeeded}, 0u, std::uint32_t{method},
                                    std::uint32_t{kDosTime}, std::uint32_t{kDosDate}}) {
            Put16(archive, field);
        }
        Put32(archive, crc);
        Put32(archive, static_cast<std::uint32_t>(data.size()));
        Put32(archive, declared);
        Put16(archive, static_cast<std::uint32_t>(entry.name.size()));
        Put16(archive, 0);
        archive += entry.name;
        archive += data;
        // Its central directory record.
        Put32(directory, 0x02014b50);
        for (std::uint32_t field :
             {std::uint32_t{kMadeOnUnix}, std::uint32_t{kNeeded}, 0u, std::uint32_t{method},
              std::uint32_t{kDosTime}, std::uint32_t{kDosDate}}) {
            Put16(directory, field);
        }
        Put32(directory, crc);
        Put32(directory, static_cast<std::uint32_t>(data.size()));
        Put32(directory, declared);
        Put16(directory, static_cast<std::uint32_t>(entry.name.size()));
        for (int field = 0; field < 4; ++field) {  // extra field, comment, disk, internal attributes
            Put16(directory, 0);
        }
        const std::uint32_t type = entry.directory ? S_IFDIR : S_IFREG;
        Put32(directory,
              ((type | entry.mode) << 16) | (entry.directory ? 0x10u : 0u));  // and the DOS folder bit
        Put32(directory, offset);
        directory += entry.name;
    }
    const auto count = static_cast<std::uint32_t>(m_entries.size());
    const auto directoryOffset = static_cast<std::uint32_t>(archive.size());
    archive += directory;
    Put32(archive, 0x06054b50);
    Put16(archive, 0);
    Put16(archive, 0);
    Put16(archive, count);
    Put16(archive, count);
    Put32(archive, static_cast<std::uint32_t>(directory.size()));
    Put32(archive, directoryOffset);
    Put16(archive, 0);  // no comment
    return archive;
}

void ZipBuilder::WriteTo(const std::string& path) const {
    WriteFile(path, Bytes());
}

std::string SampleGameBytes() {
    const std::string bytes = ReadFile(VALDRUNE_SAMPLE_GAME);
    if (bytes.empty()) {
        throw std::runtime_error("the sample game " VALDRUNE_SAMPLE_GAME " is missing: build the Linux build first");
    }
    return bytes;
}

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
