// Safe replacement of a file on Windows: a new file beside the target,
// written, flushed (FlushFileBuffers) and moved over it with
// MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH.
#include <windows.h>

#include <string>

#include "tools/outfile/replace_file.h"

namespace vtx::outfile {

namespace {

struct HandleCloser {
    HANDLE handle;
    ~HandleCloser() {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};

std::string reason_of(DWORD code) {
    return "Windows error " + std::to_string(code);
}

bool file_identity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
    // No access rights asked: the identity of a file another program holds
    // open is readable all the same. Links are followed.
    HandleCloser file{CreateFileA(path.c_str(), 0,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
    return file.handle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file.handle, &info);
}

bool write_all(HANDLE file, const void* data, std::size_t size) {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        DWORD chunk = size > 0x40000000 ? 0x40000000 : DWORD(size);
        DWORD written = 0;
        if (!WriteFile(file, at, chunk, &written, nullptr) || written == 0)
            return false;
        at += written;
        size -= written;
    }
    return true;
}

// A new file beside the target whose name no other file has.
HANDLE create_beside(const std::string& target, std::string& temporary) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        temporary = target + ".new-" + std::to_string(GetCurrentProcessId()) + "-" +
                    std::to_string(attempt);
        HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return file;
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace

bool same_file(const std::string& a, const std::string& b) {
    BY_HANDLE_FILE_INFORMATION first, second;
    if (!file_identity(a, first) || !file_identity(b, second))
        return false;
    return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

bool replace_file(const std::string& path, const void* data, std::size_t size, std::string& error) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))) {
        error = "not a regular file";
        return false;
    }
    std::string temporary;
    HandleCloser file{create_beside(path, temporary)};
    if (file.handle == INVALID_HANDLE_VALUE) {
        error = reason_of(GetLastError());
        return false;
    }
    bool ok = write_all(file.handle, data, size) && FlushFileBuffers(file.handle);
    DWORD code = GetLastError();
    ok = CloseHandle(file.handle) && ok;
    file.handle = INVALID_HANDLE_VALUE;
    if (ok && MoveFileExA(temporary.c_str(), path.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    error = reason_of(ok ? GetLastError() : code);
    DeleteFileA(temporary.c_str());
    return false;
}

}  // namespace vtx::outfile
