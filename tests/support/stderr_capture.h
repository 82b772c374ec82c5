// Captures what the process writes to its standard error, at the level of
// the file descriptor, so reports written with perror() are caught too.
#pragma once

#include <cstdio>
#include <string>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace vtx::test {

// Standard error goes to a temporary file from construction until text()
// or destruction.
class StderrCapture {
  public:
    StderrCapture() : file_(std::tmpfile()) {
        std::fflush(stderr);
        saved_ = dup_fd(stderr_fd());
        dup2_fd(file_fd(), stderr_fd());
    }
    ~StderrCapture() {
        restore();
        std::fclose(file_);
    }
    std::string text() {
        restore();
        std::string result;
        std::rewind(file_);
        int c;
        while ((c = std::fgetc(file_)) != EOF)
            result += char(c);
        return result;
    }

  private:
#ifdef _WIN32
    static int dup_fd(int fd) {
        return _dup(fd);
    }
    static void dup2_fd(int from, int to) {
        _dup2(from, to);
    }
    static void close_fd(int fd) {
        _close(fd);
    }
    static int stderr_fd() {
        return _fileno(stderr);
    }
    int file_fd() const {
        return _fileno(file_);
    }
#else
    static int dup_fd(int fd) {
        return dup(fd);
    }
    static void dup2_fd(int from, int to) {
        dup2(from, to);
    }
    static void close_fd(int fd) {
        close(fd);
    }
    static int stderr_fd() {
        return fileno(stderr);
    }
    int file_fd() const {
        return fileno(file_);
    }
#endif
    void restore() {
        if (saved_ < 0)
            return;
        std::fflush(stderr);
        dup2_fd(saved_, stderr_fd());
        close_fd(saved_);
        saved_ = -1;
    }
    std::FILE* file_;
    int saved_ = -1;
};

}  // namespace vtx::test
