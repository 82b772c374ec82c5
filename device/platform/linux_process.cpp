// Time, process and console for the Linux layer.
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "device/platform/linux_platform.h"
#include "device/platform/process_args.h"

namespace vtx {

namespace {

constexpr std::size_t EXECUTABLE_PATH_SIZE = 1024;

// Ctrl-C while the elevated instance runs belongs to that instance; this one
// only waits for it, as system() does.
class IgnoreTerminalSignals {
  public:
    IgnoreTerminalSignals() {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGINT, &ignore, &saved_int_);
        sigaction(SIGQUIT, &ignore, &saved_quit_);
    }
    ~IgnoreTerminalSignals() {
        sigaction(SIGINT, &saved_int_, nullptr);
        sigaction(SIGQUIT, &saved_quit_, nullptr);
    }
    IgnoreTerminalSignals(const IgnoreTerminalSignals&) = delete;
    IgnoreTerminalSignals& operator=(const IgnoreTerminalSignals&) = delete;

  private:
    struct sigaction saved_int_ = {};
    struct sigaction saved_quit_ = {};
};

}  // namespace

std::vector<std::string> linux_relaunch_argv(bool terminal, const std::string& self, int argc,
                                             char** argv) {
    std::vector<std::string> result{terminal ? "sudo" : "pkexec", self};
    for (int i = 1; i < argc; ++i)
        result.emplace_back(argv[i] ? argv[i] : "");
    return result;
}

void LinuxPlatform::pause_ms(unsigned milliseconds) {
    timespec rest{time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

double LinuxPlatform::monotonic_seconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

std::string LinuxPlatform::executable_path() {
    char buffer[EXECUTABLE_PATH_SIZE];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    // A full buffer may hold a cut path: no path then, as on Windows.
    if (length <= 0 || std::size_t(length) >= sizeof buffer)
        return {};
    return std::string(buffer, std::size_t(length));
}

bool LinuxPlatform::is_elevated() {
    return geteuid() == 0;
}

// The new instance shares the terminal, so this one waits for it: the shell
// prompt comes back only when the elevated run has ended. This instance's
// exit code stays 0 whatever the other one did.
void LinuxPlatform::relaunch_elevated(int argc, char** argv) {
    std::string self = executable_path();
    if (self.empty() && argc > 0 && argv[0])
        self = argv[0];
    std::vector<std::string> args = linux_relaunch_argv(is_terminal(stdin), self, argc, argv);
    std::vector<char*> vector;
    for (std::string& arg : args)
        vector.push_back(arg.data());
    vector.push_back(nullptr);

    IgnoreTerminalSignals ignore;
    pid_t child = fork();
    if (child < 0)
        return;
    if (child == 0) {
        signal(SIGINT, SIG_DFL);
        signal(SIGQUIT, SIG_DFL);
        execvp(vector[0], vector.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

bool LinuxPlatform::is_terminal(std::FILE* stream) {
    return isatty(fileno(stream)) == 1;
}

}  // namespace vtx
