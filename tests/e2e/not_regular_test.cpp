// Inputs that are not regular files: config.ini, the three images and the
// parameter file, each in turn a FIFO, a device, a directory or a link to a
// device. Each is a file that cannot be opened, with its step's result: no
// write reaches the bridge, and nothing blocks or reads without end.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <functional>

#include "tests/e2e/e2e_support.h"

namespace vtx::test::e2e {
namespace {

namespace fs = std::filesystem;

// Which input is replaced, and how the run ends for it.
struct Input {
    const char* name;
    int argument;  // its place on the command line; 0: config.ini, with no arguments
    const char* file;
    int ret;  // the update's result; 0: the usage text
};

const Input INPUTS[] = {
    {"config.ini", 0, "config.ini", 0},    {"firmware image", 1, "fw_v1.2.4.061524.bin", -6},
    {"rescue image", 2, "rescue.bin", -7}, {"parameter file", 3, "bridge.cfg", -9},
    {"LED image", 4, "led.bin", -8},
};

// A thing that is not a regular file, made in `dir` under `name`, or named
// directly (empty when this kind cannot take that name).
struct Kind {
    const char* name;
    std::function<std::string(const TempDir& dir, const std::string& name)> make;
};

std::string directory(const TempDir& dir, const std::string& name) {
    fs::create_directory(dir.file(name));
    return dir.file(name);
}

// A device the name of an input cannot be: config.ini's name is fixed, the
// firmware image's carries its version.
std::function<std::string(const TempDir&, const std::string&)> device(const char* path) {
    return [path](const TempDir&, const std::string& name) {
        return name == "config.ini" || name.find("_v") != std::string::npos ? std::string()
                                                                            : std::string(path);
    };
}

#ifdef _WIN32
const Kind KINDS[] = {{"directory", directory}, {"NUL", device("NUL")}, {"CON", device("CON")}};
#else
const Kind KINDS[] = {
    {"FIFO",
     [](const TempDir& dir, const std::string& name) {
         return mkfifo(dir.file(name).c_str(), 0600) == 0 ? dir.file(name) : "";
     }},
    {"/dev/zero", device("/dev/zero")},
    {"directory", directory},
    {"link to /dev/zero",
     [](const TempDir& dir, const std::string& name) {
         fs::create_symlink("/dev/zero", dir.file(name));
         return dir.file(name);
     }},
};
#endif

struct Outcome {
    int code = -1;
    std::string out, err;
    size_t writes = 0;
};

// One whole run over a bridge that runs 1.2.3, with `input` replaced by
// `replacement`.
Outcome run_with(const UpdateFiles& files, const TempDir& home, const Input& input,
                 const std::string& replacement) {
    InstalledSim sim;
    add_sample_bridge(sim.sim(), {1, 2, 3, 0, 20240115});
    const char separator = char(fs::path::preferred_separator);
    sim->set_path_separator(separator);
    sim->set_executable_path(home.file("vtx_fwupdate"));
    std::vector<std::string> args = files.args();
    if (input.argument == 0)
        args.resize(1);
    else
        args[size_t(input.argument)] = replacement;
    ToolRun run = run_tool(args, "k");
    return {run.code, run.out, run.err, commands(sim.sim(), OP_VENDOR_WRITE).size()};
}

#ifdef _WIN32
Outcome run_guarded(const std::function<Outcome()>& work) {
    return work();
}
#else
// Runs `work` in a forked child, so a run that blocks in an open or reads a
// device without end cannot hold the test up: an alarm ends the child after
// a few seconds. Only a guard: a run that reaches it has failed already.
Outcome run_guarded(const std::function<Outcome()>& work) {
    TempDir dir;
    const std::string code = dir.file("code"), out = dir.file("out"), err = dir.file("err");
    const pid_t child = fork();
    if (child == 0) {
        alarm(5);
        Outcome outcome = work();
        dir.write("out", outcome.out);
        dir.write("err", outcome.err);
        dir.write("code", std::to_string(outcome.code) + " " + std::to_string(outcome.writes));
        _exit(0);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        ADD_FAILURE() << "the run did not end by itself (signal " << WTERMSIG(status) << ")";
        return {};
    }
    Outcome outcome;
    std::sscanf(read_text(code).c_str(), "%d %zu", &outcome.code, &outcome.writes);
    outcome.out = read_text(out);
    outcome.err = read_text(err);
    return outcome;
}
#endif

TEST(NotRegularFile, EveryInputIsRefusedAsUnopenableWithItsStepsResultAndNoWrite) {
    const UpdateFiles files;
    for (const Input& input : INPUTS) {
        for (const Kind& kind : KINDS) {
            SCOPED_TRACE(std::string(input.name) + " as " + kind.name);
            TempDir home;
            const std::string replacement = kind.make(home, input.file);
            if (replacement.empty())
                continue;
            const Outcome run =
                run_guarded([&] { return run_with(files, home, input, replacement); });
            EXPECT_EQ(run.code, 1);
            EXPECT_EQ(run.writes, 0u);
            if (input.ret == 0) {
                EXPECT_EQ(run.out, "");
                EXPECT_EQ(run.err.rfind("Usage: vtx_fwupdate ", 0), 0u) << run.err;
                continue;
            }
            std::vector<std::string> args = files.args();
            args[size_t(input.argument)] = replacement;
            EXPECT_EQ(run.out, start_lines(args[1], args[2], args[3], args[4]) + differs_lines() +
                                   "[INFO] Proceeding with firmware update...\n" + KEY_WAIT);
            const std::string ret = std::to_string(input.ret);
            EXPECT_EQ(run.err,
                      "[ERROR] Firmware update failed (ret=" + ret + ", last_error=" + ret + ")\n");
        }
    }
}

}  // namespace
}  // namespace vtx::test::e2e
