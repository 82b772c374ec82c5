// The growing file on POSIX systems: mkstemp beside the target, write(2) per
// append, fsync and rename at the end.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/outfile/growing_file.h"

namespace vtx::outfile {

GrowingFile::~GrowingFile() {
    if (file_ >= 0)
        close(int(file_));
}

bool GrowingFile::open(const std::string& path, std::string& error) {
    struct stat old;
    if (stat(path.c_str(), &old) == 0 && !S_ISREG(old.st_mode)) {
        error = "not a regular file";
        return false;
    }
    target_ = path;
    temporary_ = path + ".XXXXXX";
    int fd = mkstemp(temporary_.data());
    if (fd < 0) {
        error = std::strerror(errno);
        temporary_.clear();
        return false;
    }
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    file_ = fd;
    return true;
}

void GrowingFile::append(const std::string& text) {
    const char* at = text.data();
    std::size_t size = text.size();
    while (file_ >= 0 && !failed_ && size > 0) {
        ssize_t n = write(int(file_), at, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            failed_ = true;
            failure_ = n < 0 ? errno : ENOSPC;
            return;
        }
        at += n;
        size -= std::size_t(n);
    }
}

bool GrowingFile::finish(std::string& error) {
    if (file_ < 0) {
        error = "not open";
        return false;
    }
    bool ok = !failed_ && fsync(int(file_)) == 0;
    int code = failed_ ? failure_ : errno;
    ok = close(int(file_)) == 0 && ok;
    file_ = -1;
    if (ok && rename(temporary_.c_str(), target_.c_str()) == 0)
        return true;
    error = std::strerror(ok ? errno : code);
    unlink(temporary_.c_str());
    return false;
}

}  // namespace vtx::outfile
