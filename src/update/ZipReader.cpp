#include "update/ZipReader.h"

#include <zip.h>

#include <string_view>

#include "platform/TextEncoding.h"

namespace {

bool EndsWithSeparator(std::string_view name) {
    return !name.empty() && (name.back() == '/' || name.back() == '\\');
}

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace

ZipReader::ZipReader(const std::string& path) {
    int code = 0;
    m_zip = zip_open(path.c_str(), ZIP_RDONLY, &code);
    if (m_zip == nullptr) {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        m_error = zip_error_strerror(&error);
        zip_error_fini(&error);
    }
}

ZipReader::~ZipReader() {
    CloseEntry();
    if (m_zip != nullptr) {
        zip_discard(m_zip);  // read only: nothing to write back
    }
}

bool ZipReader::EntryCount(std::uint64_t& count) {
    const zip_int64_t entries = m_zip != nullptr ? zip_get_num_entries(m_zip, 0) : -1;
    if (entries < 0) {
        m_error = "no archive";
        return false;
    }
    count = static_cast<std::uint64_t>(entries);
    return true;
}

bool ZipReader::DeclaredSize(std::uint64_t index, std::uint64_t& size) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(m_zip, index, ZIP_FL_ENC_RAW, &st) != 0 || (st.valid & ZIP_STAT_SIZE) == 0) {
        m_error = zip_strerror(m_zip);
        return false;
    }
    size = st.size;
    return true;
}

bool ZipReader::GetEntry(std::uint64_t index, Entry& entry) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(m_zip, index, ZIP_FL_ENC_RAW, &st) != 0 || (st.valid & ZIP_STAT_NAME) == 0 ||
        (st.valid & ZIP_STAT_SIZE) == 0) {
        m_error = zip_strerror(m_zip);
        return false;
    }
    const std::string_view raw = st.name;
    if (raw.size() > kLongestName) {
        m_error = "name longer than " + std::to_string(kLongestName) + " bytes";
        return false;
    }
    // A name flagged as UTF-8 that is not never gets here: libzip refuses such an archive.
    // Archivers on Chinese Windows store names in the system's code page without the flag.
    if (platform::IsValidUtf8(raw)) {
        entry.name = raw;
    } else if (auto converted = platform::GbkToUtf8(raw)) {
        entry.name = std::move(*converted);
    } else {
        m_error = "name neither UTF-8 nor GBK";
        return false;
    }
    entry.isDirectory = EndsWithSeparator(entry.name);
    entry.size = st.size;
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    zip_file_get_external_attributes(m_zip, index, 0, &system, &attributes);
    const unsigned unixMode = system == ZIP_OPSYS_UNIX ? attributes >> 16 : 0;
    // Archives made on Windows carry no permissions; there the game's programs are its ".exe" files.
    entry.executable = unixMode != 0 ? (unixMode & 0111) != 0 : EndsWith(entry.name, ".exe");
    return true;
}

bool ZipReader::OpenEntry(std::uint64_t index) {
    CloseEntry();
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(m_zip, index, 0, &st) != 0 || (st.valid & ZIP_STAT_SIZE) == 0 ||
        (m_file = zip_fopen_index(m_zip, index, 0)) == nullptr) {
        m_error = zip_strerror(m_zip);
        return false;
    }
    m_declared = m_left = st.size;
    return true;
}

std::int64_t ZipReader::ReadEntry(void* buffer, std::size_t size) {
    if (m_file == nullptr) {
        m_error = "no open entry";
        return -1;
    }
    const zip_int64_t n = zip_fread(m_file, buffer, size);
    if (n < 0) {
        m_error = zip_file_strerror(m_file);
        return -1;
    }
    // libzip hands out whatever the compressed data expands to; the declared size is the cap.
    if (static_cast<std::uint64_t>(n) > m_left) {
        m_error = "more data than the declared " + std::to_string(m_declared) + " bytes";
        return -1;
    }
    m_left -= static_cast<std::uint64_t>(n);
    if (n == 0 && m_left != 0) {
        m_error = "less data than the declared " + std::to_string(m_declared) + " bytes";
        return -1;
    }
    return n;
}

void ZipReader::CloseEntry() {
    if (m_file != nullptr) {
        zip_fclose(m_file);
        m_file = nullptr;
    }
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
