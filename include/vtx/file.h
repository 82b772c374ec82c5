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

// A path the program holds as narrow text (its arguments, what the A functions
// give) as std::filesystem sees it, and back. On Windows narrow text is in the
// process's ANSI code page (UTF-8 under the programs' manifest), which the
// library's own narrow conversion does not follow: it takes bytes above 127
// as Latin-1 one way and writes UTF-8 the other, so a name in another
// language would not survive.
std::filesystem::path native_path(const std::string& text);
std::string narrow_path(const std::filesystem::path& path);

}  // namespace vtx
