#pragma once
// Test archives, written byte by byte so that deliberately bad ones can be made too: names in
// any encoding (stored as given, without the UTF-8 flag, as archivers on Chinese Windows do),
// wrong checksums, sizes that lie.

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

class ZipBuilder {
  public:
    // A directory entry; name ends in "/" (or "\\").
    ZipBuilder& Directory(const std::string& name);
    // A file entry, deflated unless stored is asked for. mode is recorded as a POSIX archiver does.
    ZipBuilder& File(const std::string& name, const std::string& content, unsigned mode = 0644);
    ZipBuilder& StoredFile(const std::string& name, const std::string& content);
    // A stored entry whose recorded checksum does not match its data.
    ZipBuilder& FileWithWrongChecksum(const std::string& name, const std::string& content);
    // A deflated entry whose headers declare declaredSize bytes, whatever content holds.
    ZipBuilder& FileDeclaring(const std::string& name, const std::string& content,
                              std::uint64_t declaredSize);

    // The archive, entries in the order they were added.
    std::string Bytes() const;
    void WriteTo(const std::string& path) const;

  private:
    struct Entry {
        std::string name;
        std::string content;
        unsigned mode;
        bool directory;
        bool stored;
        bool wrongChecksum;
        std::uint64_t declaredSize;
    };
    std::vector<Entry> m_entries;
};

// The sample game's executable bytes.
std::string SampleGameBytes();
// The game package as the operator ships it, built from the sample game (or the game given):
// "zavo/", "zavo/zavo.exe", "zavo/data/" with two data files, and "readme.txt".
ZipBuilder GamePackage(const std::string& gameBytes = SampleGameBytes());

}  // namespace testing_support
