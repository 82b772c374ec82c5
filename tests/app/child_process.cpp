#include "tests/app/child_process.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>

#include "tests/app/app_test_util.h"
#include "tests/support/support.h"

namespace vtx::test {

#ifdef _WIN32

namespace {

HANDLE inheritable(const std::string& path, DWORD access, DWORD creation) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, TRUE};
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes,
                       creation, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

ChildResult run_child(const std::string& program, const std::vector<std::string>& args,
                      const std::string& work_dir) {
    ChildResult result;
    std::string out_path = work_dir + "\\child.out", err_path = work_dir + "\\child.err";
    HANDLE in = inheritable("NUL", GENERIC_READ, OPEN_EXISTING);
    HANDLE out = inheritable(out_path, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err = inheritable(err_path, GENERIC_WRITE, CREATE_ALWAYS);
    // Quoted as the C runtime splits arguments; the test arguments hold no
    // quotes and no trailing backslashes.
    std::string command_line = '"' + program + '"';
    for (const std::string& arg : args)
        command_line += " \"" + arg + '"';

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    if (CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       nullptr, &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        result.exit_code = int(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    result.out = without_carriage_returns(read_text(out_path));
    result.err = without_carriage_returns(read_text(err_path));
    return result;
}

std::string child_program_path(const std::string& built) {
    std::string path = built;
    if (!path.empty() && path[0] == '/') {
        for (char& c : path) {
            if (c == '/')
                c = '\\';
        }
        path = "Z:" + path;
    }
    return path;
}

#else

ChildResult run_child(const std::string& program, const std::vector<std::string>& args,
                      const std::string& work_dir) {
    ChildResult result;
    std::string out_path = work_dir + "/child.out", err_path = work_dir + "/child.err";
    Args argv({program}, args);

    pid_t child = fork();
    if (child == 0) {
        int in = open("/dev/null", O_RDONLY);
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execv(program.c_str(), argv.argv());
        _exit(127);
    }
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status))
        result.exit_code = WEXITSTATUS(status);
    result.out = read_text(out_path);
    result.err = read_text(err_path);
    return result;
}

std::string child_program_path(const std::string& built) {
    return std::filesystem::canonical(built).string();
}

#endif

}  // namespace vtx::test
