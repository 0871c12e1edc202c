#pragma once
// One open file with Windows-style error numbers: the package being downloaded and the files
// being unpacked. Writes go straight to the kernel, so whatever Write reported as written is
// visible to any other reader (and survives the process) at once.

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class File {
public:
    enum class Mode {
        Read,      // an existing file
        Truncate,  // created or cut to zero length
        Append,    // created when absent; every write lands at the end
        // A run's log: created when absent, for writing, and kept from every other opener while
        // open. Earlier content moves to "<path>.1" (one generation) and the file starts empty.
        // A second opener fails with kErrorSharingViolation and touches neither file.
        Exclusive,
    };

    File() = default;
    // Opens path; check IsOpen() and Error(). mode applies to a file this call creates, and
    // with Truncate also to an existing one.
    File(const std::string& path, Mode mode, unsigned permissions = 0644);
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    bool IsOpen() const { return m_handle != -1; }
    // The Windows error number of the last failure (of the opening, when not open).
    std::uint32_t Error() const { return m_error; }

    // Bytes written: all of them, or fewer when the disk or the file refused the rest.
    std::size_t Write(const void* data, std::size_t size);
    // Bytes read, 0 at the end, -1 on failure.
    std::int64_t Read(void* buffer, std::size_t size);
    // Current length of the file, -1 on failure.
    std::int64_t Size();
    // Waits until the bytes written so far are on the disk itself (fdatasync, FlushFileBuffers).
    bool Flush();
    // Cuts (or extends with zeros) the file to length.
    bool Truncate(std::int64_t length);
    // False when the final close reported a failure (some file systems report write errors late).
    bool Close();

private:
    std::intptr_t m_handle = -1;  // the descriptor or the file handle; -1: none
    std::uint32_t m_error = 0;
};

}  // namespace platform
