// Safe replacement of a file on POSIX systems: mkstemp beside the target,
// write, fsync, rename, fsync of the directory.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "tools/outfile/replace_file.h"

namespace vtx::outfile {

namespace {

std::string reason_of(int code) {
    return std::strerror(code);
}

// The file a path names, its links followed; a path that does not exist yet
// is its own target.
bool resolve_target(const std::string& path, std::string& target, std::string& error) {
    struct stat link_info;
    target = path;
    if (lstat(path.c_str(), &link_info) != 0 || !S_ISLNK(link_info.st_mode))
        return true;
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr) {
        error = "cannot follow the link: " + reason_of(errno);
        return false;
    }
    target = resolved;
    return true;
}

bool write_all(int fd, const void* data, std::size_t size) {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(fd, at, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += n;
        size -= std::size_t(n);
    }
    return true;
}

// The mode a replacement keeps: the old file's, or what a new file gets.
mode_t mode_for(const struct stat* old) {
    if (old)
        return old->st_mode & 07777;
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

void sync_directory(const std::string& target) {
    std::size_t slash = target.rfind('/');
    std::string directory = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

}  // namespace

bool same_file(const std::string& a, const std::string& b) {
    struct stat first, second;
    if (stat(a.c_str(), &first) != 0 || stat(b.c_str(), &second) != 0)
        return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool replace_file(const std::string& path, const void* data, std::size_t size, std::string& error) {
    std::string target;
    if (!resolve_target(path, target, error))
        return false;
    struct stat old;
    bool exists = stat(target.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) {
        error = "not a regular file";
        return false;
    }
    std::string temporary = target + ".XXXXXX";
    int fd = mkstemp(temporary.data());
    if (fd < 0) {
        error = reason_of(errno);
        return false;
    }
    bool ok = fchmod(fd, mode_for(exists ? &old : nullptr)) == 0 && write_all(fd, data, size) &&
              fsync(fd) == 0;
    int code = errno;
    ok = close(fd) == 0 && ok;
    if (ok && rename(temporary.c_str(), target.c_str()) == 0) {
        sync_directory(target);
        return true;
    }
    error = reason_of(ok ? errno : code);
    unlink(temporary.c_str());
    return false;
}

}  // namespace vtx::outfile
