// Time, process and console for the Linux layer.
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "device/platform/linux_platform.h"
#include "device/platform/process_args.h"

extern char** environ;

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

// The elevated instance takes Ctrl-C as usual: the default action of the two
// signals this one ignores while it waits.
class SpawnAttributes {
  public:
    SpawnAttributes() {
        posix_spawnattr_init(&attributes_);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGINT);
        sigaddset(&defaults, SIGQUIT);
        posix_spawnattr_setsigdefault(&attributes_, &defaults);
        posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGDEF);
    }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    const posix_spawnattr_t* get() const { return &attributes_; }

  private:
    posix_spawnattr_t attributes_;
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
// prompt comes back only when the elevated run has ended, and this instance
// ends with that run's exit code, so a failed elevated update does not look
// like success to a script. posix_spawnp reports a launcher that is not there
// (or cannot run) as its own result, apart from anything the launcher exits
// with.
int LinuxPlatform::relaunch_elevated(int argc, char** argv, std::string& failure) {
    std::string self = executable_path();
    if (self.empty() && argc > 0 && argv[0])
        self = argv[0];
    std::vector<std::string> args = linux_relaunch_argv(is_terminal(stdin), self, argc, argv);
    std::vector<char*> vector;
    for (std::string& arg : args)
        vector.push_back(arg.data());
    vector.push_back(nullptr);

    IgnoreTerminalSignals ignore;
    SpawnAttributes attributes;
    pid_t child = -1;
    int error = posix_spawnp(&child, vector[0], nullptr, attributes.get(), vector.data(), environ);
    int status = 0;
    while (error == 0 && waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            error = errno;
    }
    if (error != 0) {
        failure = args[0] + ": " + std::strerror(error);
        return -1;
    }
    // A run ended by a signal gives what a shell reports for it.
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool LinuxPlatform::is_terminal(std::FILE* stream) {
    return isatty(fileno(stream)) == 1;
}

}  // namespace vtx
