#pragma once
// Reading a ZIP archive with minizip, entry by entry in the order of its central directory.
// The archive is closed when the reader goes away, on every path.

#include <cstddef>
#include <cstdint>
#include <string>

class ZipReader {
public:
    explicit ZipReader(const std::string& path);  // unzOpen
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    bool IsOpen() const { return m_zip != nullptr || m_empty; }

    // unzGetGlobalInfo: false when the archive's directory cannot be read.
    bool EntryCount(std::uint64_t& count);

    struct Entry {
        std::string name;       // as stored, '/' separated
        bool isDirectory = false;
        bool executable = false;  // the file should be runnable after unpacking
    };
    // unzGetCurrentFileInfo with a 512-byte name buffer. False when the header cannot be read
    // or the name does not fit the buffer (a cut name would be a different path).
    bool CurrentEntry(Entry& entry);

    bool OpenCurrent();                              // unzOpenCurrentFile
    int ReadCurrent(void* buffer, unsigned size);    // unzReadCurrentFile: bytes, 0 at the end, < 0 error
    // unzCloseCurrentFile: false when the entry's data failed its checksum.
    bool CloseCurrent();
    bool Next();                                     // unzGoToNextFile
    void Close();                                    // unzClose

private:
    void* m_zip = nullptr;
    bool m_empty = false;  // a valid archive without entries, which minizip cannot open
    bool m_entryOpen = false;
};

// False for names that would leave the folder they are unpacked into: absolute names, a drive
// prefix, or a ".." level (with either separator).
bool IsContainedEntryName(const std::string& name);
