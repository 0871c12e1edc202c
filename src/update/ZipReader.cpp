#include "update/ZipReader.h"

#include <unzip.h>

#include <fstream>
#include <iterator>
#include <string_view>

namespace {

constexpr size_t kNameBuffer = 512;
constexpr unsigned kMadeOnUnix = 3;  // "version made by" host system of a POSIX archiver

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// An archive without entries is its end record alone, at offset 0, where minizip's search for
// that record never looks; recognise exactly that form.
bool IsEmptyArchive(const std::string& path) {
    constexpr size_t kEndRecord = 22;
    std::ifstream in(path, std::ios::binary);
    std::string head(kEndRecord, '\0');
    if (!in.read(head.data(), kEndRecord)) {
        return false;
    }
    const std::string_view expected("PK\x05\x06\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 20);
    if (std::string_view(head).substr(0, 20) != expected) {
        return false;
    }
    const size_t commentLength = static_cast<unsigned char>(head[20]) | (static_cast<unsigned char>(head[21]) << 8);
    const std::string comment((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return comment.size() == commentLength;
}

}  // namespace

ZipReader::ZipReader(const std::string& path) : m_zip(unzOpen64(path.c_str())) {
    m_empty = m_zip == nullptr && IsEmptyArchive(path);
}

ZipReader::~ZipReader() { Close(); }

bool ZipReader::EntryCount(std::uint64_t& count) {
    if (m_empty) {
        count = 0;
        return true;
    }
    unz_global_info64 info{};
    if (unzGetGlobalInfo64(m_zip, &info) != UNZ_OK) {
        return false;
    }
    count = info.number_entry;
    return true;
}

bool ZipReader::CurrentEntry(Entry& entry) {
    unz_file_info64 info{};
    char name[kNameBuffer] = {};
    if (unzGetCurrentFileInfo64(m_zip, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK ||
        info.size_filename >= sizeof name) {
        return false;
    }
    entry.name.assign(name, info.size_filename);
    entry.isDirectory = EndsWith(entry.name, "/");
    const unsigned unixMode = (info.version >> 8) == kMadeOnUnix ? static_cast<unsigned>(info.external_fa >> 16) : 0;
    // Archives made on Windows carry no permissions; there the game's programs are its ".exe" files.
    entry.executable = unixMode != 0 ? (unixMode & 0111) != 0 : EndsWith(entry.name, ".exe");
    return true;
}

bool ZipReader::OpenCurrent() {
    m_entryOpen = unzOpenCurrentFile(m_zip) == UNZ_OK;
    return m_entryOpen;
}

int ZipReader::ReadCurrent(void* buffer, unsigned size) { return unzReadCurrentFile(m_zip, buffer, size); }

bool ZipReader::CloseCurrent() {
    if (!m_entryOpen) {
        return true;
    }
    m_entryOpen = false;
    return unzCloseCurrentFile(m_zip) != UNZ_CRCERROR;
}

bool ZipReader::Next() { return unzGoToNextFile(m_zip) == UNZ_OK; }

void ZipReader::Close() {
    if (m_zip != nullptr) {
        CloseCurrent();
        unzClose(m_zip);
        m_zip = nullptr;
    }
    m_empty = false;
}

bool IsContainedEntryName(const std::string& name) {
    if (name.empty() || name[0] == '/' || name[0] == '\\' || (name.size() >= 2 && name[1] == ':')) {
        return false;
    }
    size_t start = 0;
    for (;;) {
        const size_t end = name.find_first_of("/\\", start);
        if (name.compare(start, end == std::string::npos ? std::string::npos : end - start, "..") == 0) {
            return false;
        }
        if (end == std::string::npos) {
            return true;
        }
        start = end + 1;
    }
}
