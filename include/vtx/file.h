// The one owner type for a C stream, and the one way the tool opens a file it
// reads. Every input the tool reads must be a regular file: a FIFO would block
// the open, /dev/zero would never end, a directory or a device is no input at
// all, so they are refused before anything reads them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace vtx {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f)
            std::fclose(f);
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opens an existing regular file for reading (mode "rb" or "r") without ever
// blocking: a FIFO, a device, a directory or a socket is refused, never opened
// for reading. Null for anything that is not a regular file (on Windows: a disk
// file, not a directory, console or device) and for any other mode. `size`,
// when given, receives the file's size.
File open_regular_file(const char* path, const char* mode, uint64_t* size = nullptr);

// Reads a whole regular file of at most `limit` bytes into `bytes` (a
// std::string or a std::vector<uint8_t>), the size checked before the read.
// The result names the step that failed, so each program words its own
// message; `size`, when given, receives the file's size once it is opened.
enum class WholeFile { kRead, kNotOpened, kTooLarge, kChanged };
template <class Bytes>
WholeFile read_whole_file(const std::string& path, uint64_t limit, Bytes& bytes,
                          uint64_t* size = nullptr) {
    uint64_t file_size = 0;
    File file(open_regular_file(path.c_str(), "rb", &file_size));
    if (!file)
        return WholeFile::kNotOpened;
    if (size)
        *size = file_size;
    if (file_size > limit)
        return WholeFile::kTooLarge;
    bytes.resize(size_t(file_size));
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() ||
        std::fgetc(file.get()) != EOF)
        return WholeFile::kChanged;
    return WholeFile::kRead;
}

// A path the program holds as narrow text (its arguments, what the A functions
// give) as std::filesystem sees it, and back. On Windows narrow text is in the
// process's ANSI code page (UTF-8 under the programs' manifest), which the
// library's own narrow conversion does not follow: it takes bytes above 127
// as Latin-1 one way and writes UTF-8 the other, so a name in another
// language would not survive.
std::filesystem::path native_path(const std::string& text);
std::string narrow_path(const std::filesystem::path& path);

}  // namespace vtx
