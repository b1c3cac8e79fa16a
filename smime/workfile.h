// Work files of the encoder and decoder: temporary files in the user's
// temporary directory that nobody else can open and that vanish with the
// process, overwritten with zeros before they are closed.
//
// A name is the temporary directory, a three-letter prefix, the thread id and
// a random value, each as 8 upper-case hexadecimal digits, and ".TMP". The
// file is created exclusively (never an existing name, which another user
// may have planted), mode 0600, without following links, and its name is
// removed at once, so only this process holds it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "include/qzms.h"

namespace tarmin::smime {

// The user's temporary directory with a trailing "/": TMP, TEMP, TMPDIR, /tmp.
std::string temp_directory();

class WorkFile {
public:
    WorkFile() = default;
    ~WorkFile() { release(); }
    WorkFile(const WorkFile &) = delete;
    WorkFile &operator=(const WorkFile &) = delete;

    // Creates the file (six attempts one second apart, each failure reported
    // as 0xE0030003 with the name, then the trace ("create_tempfile", caller)).
    // crypto gives the random value; null or failing: the C generator.
    bool create(const char *prefix, const char *caller, CapiContext *crypto);
    bool is_open() const { return fd_ >= 0; }

    // Appends; a short write reports 0xE0030004.
    bool write(std::string_view bytes);
    bool write(const void *data, size_t length) {
        return write(std::string_view(static_cast<const char *>(data), length));
    }
    // Text kept in memory and appended to the contents at the read-back; a
    // second call replaces the first.
    void set_pending(std::string text) { pending_ = std::move(text); }

    // The whole contents followed by the pending text (0xE0030006, 0xE0030007).
    bool read_back(std::string &out);
    // The same into a new malloc buffer with 8 zero bytes after the data (for
    // records handed to the host, without a second copy).
    bool read_back(unsigned char *&data, uint32_t &length);
    // The size of the file's contents (without the pending text; 0xE0030006).
    bool size(size_t &out);
    // Reads the whole contents (size bytes, as size() gave) into dest
    // (0xE0030007).
    bool read_into(char *dest, size_t size);
    // The contents mapped read-only (without the pending text), valid until
    // the file is closed or released; nothing is copied (0xE0030006,
    // 0xE0030007).
    bool map(std::string_view &view);
    // Zeroes the contents and closes (0xE0030008 when that fails).
    bool close();
    // Read back, then close: what the encoder does at the end of a file.
    bool save_and_close(std::string &out) { return read_back(out) && close(); }
    // Zeroes and closes without reporting (release after a failure).
    void release();

    const std::string &name() const { return name_; }

private:
    bool zero_and_close();
    bool file_size(size_t &size);
    void unmap();

    int fd_ = -1;
    void *map_ = nullptr;
    size_t map_size_ = 0;
    uint64_t written_ = 0;
    std::string pending_;
    std::string name_;
};

// Writes a file of the archive or result store: created exclusively, written
// through to the disk, four attempts one second apart; errors 0xE0030003
// (create), 0xE003000D (write), 0xE003000E (close) with the file name. path
// is Windows-1251 (converted for the file system).
bool write_to_file(const std::string &path, std::string_view bytes);

// A Windows-1251 path as the file system takes it (UTF-8, "\" as "/").
std::string fs_path(std::string_view path_1251);

} // namespace tarmin::smime
