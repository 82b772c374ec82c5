// Linux: opening an input file. The open itself does not wait (O_NONBLOCK
// makes a FIFO without a writer open at once), the descriptor's own type is
// checked rather than the path's, so a link swapped between a check and the
// open cannot slip a device in, and only a regular file becomes a stream.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "vtx/file.h"

namespace vtx {

namespace {
bool is_read_mode(const char* mode) {
    return mode && (std::strcmp(mode, "r") == 0 || std::strcmp(mode, "rb") == 0);
}
}  // namespace

File open_regular_file(const char* path, const char* mode, uint64_t* size) {
    if (!path || !is_read_mode(mode))
        return nullptr;
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return nullptr;
    struct stat status {};
    int flags = 0;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        (flags = ::fcntl(fd, F_GETFL)) < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    File file(::fdopen(fd, mode));
    if (!file) {
        ::close(fd);
        return nullptr;
    }
    if (size)
        *size = uint64_t(status.st_size);
    return file;
}

std::filesystem::path native_path(const std::string& text) {
    return std::filesystem::path(text);
}

std::string narrow_path(const std::filesystem::path& path) {
    return path.string();
}

}  // namespace vtx
