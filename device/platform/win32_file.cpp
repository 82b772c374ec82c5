// Windows: opening an input file. CreateFileA does not wait for anything here:
// a directory is refused by the open itself (no backup semantics asked), and
// the device namespace (\\.\PhysicalDrive1, \\.\pipe\...) is refused before
// any open. What opens must be a disk file with file information of its own,
// which a console (CON), the null device (NUL) and a raw drive are not.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstring>

#include "vtx/file.h"

namespace vtx {

namespace {
bool is_read_mode(const char* mode) {
    return mode && (std::strcmp(mode, "r") == 0 || std::strcmp(mode, "rb") == 0);
}

bool is_slash(char c) {
    return c == '\\' || c == '/';
}

// \\.\ names a device by definition; \\?\ reaches devices too (\\?\PhysicalDrive0),
// and stands for a file only as \\?\C:\... or \\?\UNC\server\share\...
bool names_a_device(const char* path) {
    if (!is_slash(path[0]) || !is_slash(path[1]) || !(path[2] == '.' || path[2] == '?') ||
        !is_slash(path[3]))
        return false;
    if (path[2] == '.')
        return true;
    const char* rest = path + 4;
    const bool drive = ((rest[0] | 0x20) >= 'a' && (rest[0] | 0x20) <= 'z') && rest[1] == ':';
    const bool unc = _strnicmp(rest, "UNC", 3) == 0 && is_slash(rest[3]);
    return !drive && !unc;
}

// A disk file, not a directory or device, and its size.
bool is_disk_file(HANDLE handle, uint64_t& size) {
    BY_HANDLE_FILE_INFORMATION info;
    LARGE_INTEGER length;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0 ||
        !GetFileSizeEx(handle, &length) || length.QuadPart < 0)
        return false;
    size = uint64_t(length.QuadPart);
    return true;
}
}  // namespace

File open_regular_file(const char* path, const char* mode, uint64_t* size) {
    if (!path || !is_read_mode(mode) || names_a_device(path))
        return nullptr;
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    uint64_t length = 0;
    if (!is_disk_file(handle, length)) {
        CloseHandle(handle);
        return nullptr;
    }
    const int text = mode[1] == 'b' ? _O_BINARY : _O_TEXT;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | text);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    File file(_fdopen(fd, mode));
    if (!file) {
        _close(fd);  // closes the handle too
        return nullptr;
    }
    if (size)
        *size = length;
    return file;
}

std::filesystem::path native_path(const std::string& text) {
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), wide.data(), n);
    return std::filesystem::path(wide);
}

std::string narrow_path(const std::filesystem::path& path) {
    const std::wstring& wide = path.native();
    int n =
        WideCharToMultiByte(CP_ACP, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, wide.data(), int(wide.size()), text.data(), n, nullptr,
                            nullptr);
    return text;
}

}  // namespace vtx
