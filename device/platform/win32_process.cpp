// Time, process and console for the Windows layer.
// windows.h goes first: shellapi.h builds on its definitions.
#include <windows.h>

#include <io.h>
#include <shellapi.h>

#include "device/platform/process_args.h"
#include "device/platform/win32_platform.h"

namespace vtx {

namespace {

constexpr DWORD EXECUTABLE_PATH_SIZE = 1024;

class TokenHandle {
  public:
    TokenHandle() = default;
    ~TokenHandle() {
        if (handle_)
            CloseHandle(handle_);
    }
    TokenHandle(const TokenHandle&) = delete;
    TokenHandle& operator=(const TokenHandle&) = delete;
    HANDLE* out() { return &handle_; }
    HANDLE get() const { return handle_; }

  private:
    HANDLE handle_ = nullptr;
};

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

std::string win32_relaunch_parameters(const char* command_line) {
    if (!command_line)
        return {};
    const char* p = command_line;
    if (*p == '"') {
        ++p;
        while (*p && *p != '"')
            ++p;
        if (*p == '"')
            ++p;
    } else {
        while (*p && !is_blank(*p))
            ++p;
    }
    while (is_blank(*p))
        ++p;
    return p;
}

void Win32Platform::pause_ms(unsigned milliseconds) {
    Sleep(milliseconds);
}

double Win32Platform::monotonic_seconds() {
    LARGE_INTEGER frequency, counter;
    if (!QueryPerformanceFrequency(&frequency) || !QueryPerformanceCounter(&counter)) {
        return double(GetTickCount64()) / 1000.0;
    }
    return double(counter.QuadPart) / double(frequency.QuadPart);
}

std::string Win32Platform::executable_path() {
    char buffer[EXECUTABLE_PATH_SIZE];
    DWORD length = GetModuleFileNameA(nullptr, buffer, EXECUTABLE_PATH_SIZE);
    // A length of the whole buffer means the path was cut: no path then.
    if (length == 0 || length >= EXECUTABLE_PATH_SIZE)
        return {};
    return std::string(buffer, length);
}

bool Win32Platform::is_elevated() {
    TokenHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.out()))
        return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size)) {
        return false;
    }
    return elevation.TokenIsElevated != 0;
}

// The shell's answer is not looked at: this instance ends either way, with 0.
int Win32Platform::relaunch_elevated(int argc, char** argv, std::string&) {
    if (argc < 1 || !argv[0])
        return 0;
    std::string parameters = win32_relaunch_parameters(GetCommandLineA());
    ShellExecuteA(nullptr, "runas", argv[0], parameters.c_str(), nullptr, SW_SHOWNORMAL);
    return 0;
}

bool Win32Platform::is_terminal(std::FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

}  // namespace vtx
