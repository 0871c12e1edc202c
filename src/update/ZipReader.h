#pragma once
// Reading the game package, a ZIP archive, with libzip: entries in the order of its central
// directory. Nothing in an archive is trusted. Its caps: a name holds at most kLongestName bytes
// and must read as UTF-8 or GBK; an entry yields exactly the size it declares (a byte more is
// refused before it is handed out, fewer is a fault), so what unpacking will write is known
// before the first byte is read. Memory: libzip's copy of the central directory (bounded by
// the file's size) and the caller's buffer. The archive is closed when the reader goes away.

#include <cstddef>
#include <cstdint>
#include <string>

struct zip;       // libzip's zip_t
struct zip_file;  // libzip's zip_file_t

class ZipReader {
  public:
    // What the original's 512-byte name buffer holds; a cut name would be a different path.
    static constexpr std::size_t kLongestName = 511;

    explicit ZipReader(const std::string& path);
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    bool IsOpen() const { return m_zip != nullptr; }
    // Why the last failing call failed, in libzip's words ("Not a zip archive", "CRC error") or
    // this reader's ("more data than the declared 100 bytes").
    const std::string& ErrorText() const { return m_error; }

    // False when the archive's directory cannot be read.
    bool EntryCount(std::uint64_t& count);

    struct Entry {
        std::string name;          // UTF-8, separators as stored ('/' or '\\')
        bool isDirectory = false;  // the name ends in a separator
        bool executable = false;   // the file should be runnable after unpacking
        std::uint64_t size = 0;    // the uncompressed size the central directory declares
    };
    // The uncompressed size the central directory declares for an entry (0 for a folder);
    // false when its header cannot be read.
    bool DeclaredSize(std::uint64_t index, std::uint64_t& size);

    // False when the entry's header cannot be read or its name is unusable (too long, neither
    // UTF-8 nor GBK).
    bool GetEntry(std::uint64_t index, Entry& entry);

    bool OpenEntry(std::uint64_t index);
    // Bytes read into buffer; 0 once the whole entry has been read and its CRC matched; -1 on a
    // fault (data error, CRC error, a size other than the declared one).
    std::int64_t ReadEntry(void* buffer, std::size_t size);
    void CloseEntry();

  private:
    zip* m_zip = nullptr;
    zip_file* m_file = nullptr;
    std::uint64_t m_declared = 0;  // of the open entry
    std::uint64_t m_left = 0;      // of its declared size, not yet handed out
    std::string m_error;
};

// False for names that would leave the folder they are unpacked into: absolute names, a drive
// prefix, or a ".." level (with either separator).
bool IsContainedEntryName(const std::string& name);
