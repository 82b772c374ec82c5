// The growing file on Windows: a new file beside the target, WriteFile per
// append, FlushFileBuffers and MoveFileExA at the end.
#include <windows.h>

#include <string>

#include "tools/outfile/growing_file.h"

namespace vtx::outfile {

namespace {

HANDLE handle_of(std::intptr_t file) {
    return reinterpret_cast<HANDLE>(file);
}

std::string reason_of(DWORD code) {
    return "Windows error " + std::to_string(code);
}

}  // namespace

GrowingFile::~GrowingFile() {
    if (file_ != -1)
        CloseHandle(handle_of(file_));
}

bool GrowingFile::open(const std::string& path, std::string& error) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))) {
        error = "not a regular file";
        return false;
    }
    target_ = path;
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        temporary_ =
            path + ".new-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt);
        HANDLE file = CreateFileA(temporary_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            file_ = reinterpret_cast<std::intptr_t>(file);
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    error = reason_of(GetLastError());
    temporary_.clear();
    return false;
}

void GrowingFile::append(const std::string& text) {
    const char* at = text.data();
    std::size_t size = text.size();
    while (file_ != -1 && !failed_ && size > 0) {
        DWORD written = 0;
        if (!WriteFile(handle_of(file_), at, DWORD(size), &written, nullptr) || written == 0) {
            failed_ = true;
            failure_ = int(GetLastError());
            return;
        }
        at += written;
        size -= written;
    }
}

bool GrowingFile::finish(std::string& error) {
    if (file_ == -1) {
        error = "not open";
        return false;
    }
    bool ok = !failed_ && FlushFileBuffers(handle_of(file_));
    DWORD code = failed_ ? DWORD(failure_) : GetLastError();
    ok = CloseHandle(handle_of(file_)) && ok;
    file_ = -1;
    if (ok && MoveFileExA(temporary_.c_str(), target_.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    error = reason_of(ok ? GetLastError() : code);
    DeleteFileA(temporary_.c_str());
    return false;
}

}  // namespace vtx::outfile
