#pragma once
// Test archives written with minizip's zip writer, including deliberately bad ones.

#include <string>
#include <vector>

namespace testing_support {

class ZipBuilder {
public:
    // A directory entry; name ends in "/".
    ZipBuilder& Directory(const std::string& name);
    // A file entry, deflated unless stored is asked for. mode is recorded as a POSIX archiver does.
    ZipBuilder& File(const std::string& name, const std::string& content, unsigned mode = 0644);
    ZipBuilder& StoredFile(const std::string& name, const std::string& content);
    // A stored entry whose recorded checksum does not match its data.
    ZipBuilder& FileWithWrongChecksum(const std::string& name, const std::string& content);

    // Writes the archive (entries in the order they were added); throws when minizip fails.
    void WriteTo(const std::string& path) const;
    std::string Bytes() const;

private:
    struct Entry {
        std::string name;
        std::string content;
        unsigned mode;
        bool directory;
        bool stored;
        bool wrongChecksum;
    };
    std::vector<Entry> m_entries;
};

// The sample game's executable bytes.
std::string SampleGameBytes();
// The game package as the operator ships it, built from the sample game (or the game given):
// "zavo/", "zavo/zavo.exe", "zavo/data/" with two data files, and "readme.txt".
ZipBuilder GamePackage(const std::string& gameBytes = SampleGameBytes());

}  // namespace testing_support
