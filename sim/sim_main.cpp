// vtx_fwupdate_sim: the whole tool over simulated bridges, so anyone can run
// an update without hardware. The bridges come from a description file; what
// a run leaves on them is kept in a state file, so the next run continues on
// the same bridges. Everything after this program's own options goes to the
// tool unchanged.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/startup.h"
#include "device/platform/platform.h"
#include "device/platform/trace_platform.h"
#include "sim/sim.h"
#include "sim/sim_world.h"
#include "tools/outfile/growing_file.h"

namespace {

constexpr const char* PROGRAM = "vtx_fwupdate_sim";
// The program's own failures, apart from the tool's exit codes 0 and 1.
constexpr int SIM_FAILURE = 2;

struct Options {
    vtx::sim::WorldFiles files;
    bool real_time = false;
    bool help = false;
    std::string trace;               // --trace FILE
    std::vector<std::string> given;  // every argument after the program name
    std::vector<char*> tool_args;    // argument 0, then the tool's arguments
};

void print_help(std::FILE* stream) {
    std::fprintf(stream,
                 "Usage: %s [--bridges FILE] [--state FILE] [--reset] [--real-time]\n"
                 "       %*s [--trace FILE] [--] [<bin> <rescuebin> <cfg> [led]]\n"
                 "\n"
                 "Runs vtx_fwupdate on simulated bridges. Its arguments and config.ini are\n"
                 "the tool's own; config.ini is read beside this program.\n"
                 "\n"
                 "  --bridges FILE  bridge description (default: %s beside this program)\n"
                 "  --state FILE    state kept between runs (default: %s beside it);\n"
                 "                  when it exists, it is used instead of the description\n"
                 "  --reset         start from the description, whatever the state file holds\n"
                 "  --real-time     pauses take real time (default: virtual time)\n"
                 "  --trace FILE    every command sent to a device, one line each, in FILE\n"
                 "                  (docs/trace.md)\n"
                 "  --              ends the options; all that follows goes to the tool\n",
                 PROGRAM, int(std::strlen(PROGRAM)), "", vtx::sim::WORLD_DESCRIPTION_FILE,
                 vtx::sim::WORLD_STATE_FILE);
}

// "--name VALUE" or "--name=VALUE".
bool take_value(int argc, char** argv, int& i, const char* name, std::string& value, bool& error) {
    std::size_t length = std::strlen(name);
    if (std::strncmp(argv[i], name, length) != 0)
        return false;
    if (argv[i][length] == '=') {
        value = argv[i] + length + 1;
        return true;
    }
    if (argv[i][length] != '\0')
        return false;
    if (i + 1 >= argc) {
        std::fprintf(stderr, "%s: %s needs a file name\n", PROGRAM, name);
        error = true;
        return true;
    }
    value = argv[++i];
    return true;
}

// Options stand first; the first argument that is not one (or "--") starts
// the tool's arguments, so the tool sees exactly what the user typed.
bool parse_options(int argc, char** argv, Options& options) {
    options.tool_args.push_back(argc > 0 ? argv[0] : const_cast<char*>(PROGRAM));
    for (int k = 1; k < argc; ++k)
        options.given.push_back(argv[k]);
    int i = 1;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        bool error = false;
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg.rfind("--", 0) != 0)
            break;
        if (take_value(argc, argv, i, "--bridges", options.files.bridges, error) ||
            take_value(argc, argv, i, "--state", options.files.state, error) ||
            take_value(argc, argv, i, "--trace", options.trace, error)) {
            if (error)
                return false;
        } else if (arg == "--reset") {
            options.files.reset = true;
        } else if (arg == "--real-time") {
            options.real_time = true;
        } else if (arg == "--help") {
            options.help = true;
        } else {
            std::fprintf(stderr, "%s: unknown option %s (try --help)\n", PROGRAM, arg.c_str());
            return false;
        }
    }
    for (; i < argc; ++i)
        options.tool_args.push_back(argv[i]);
    options.tool_args.push_back(nullptr);
    return true;
}

class TraceFile : public vtx::TraceSink {
  public:
    vtx::outfile::GrowingFile file;
    void line(const std::string& text) override { file.append(text + "\n"); }
};

// The tool's run, traced when the user asked for it: the trace file replaces
// an old one only once the run is done.
int run_tool(const Options& options, vtx::sim::SimPlatform& sim, bool& trace_failed) {
    std::vector<char*> args = options.tool_args;
    vtx::Console console{stdout, stderr, stdin};
    if (options.trace.empty()) {
        vtx::platform_install(&sim);
        int code = vtx::vtx_main(int(args.size()) - 1, args.data(), console);
        vtx::console_flush(console);
        return code;
    }
    TraceFile trace;
    std::string error;
    if (!trace.file.open(options.trace, error)) {
        std::fprintf(stderr, "%s: cannot write the trace %s: %s\n", PROGRAM, options.trace.c_str(),
                     error.c_str());
        trace_failed = true;
        return SIM_FAILURE;
    }
    vtx::TracePlatform traced(sim, trace, {PROGRAM, vtx::TOOL_VERSION, options.given});
    vtx::platform_install(&traced);
    int code = vtx::vtx_main(int(args.size()) - 1, args.data(), console);
    vtx::console_flush(console);
    vtx::platform_install(&sim);
    if (!trace.file.finish(error)) {
        std::fprintf(stderr, "\n%s: cannot write the trace %s: %s\n", PROGRAM,
                     options.trace.c_str(), error.c_str());
        trace_failed = true;
    }
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse_options(argc, argv, options))
        return SIM_FAILURE;
    if (options.help) {
        print_help(stdout);
        return 0;
    }
    vtx::sim::default_world_files(options.files);

    vtx::sim::SimPlatform sim;
    if (!vtx::sim::load_world(options.files, sim, PROGRAM))
        return SIM_FAILURE;
    // The tool looks for config.ini beside the running program, as the real
    // one does, and draws its progress line when the real standard error is
    // a terminal; a saved state does not decide either.
    sim.set_executable_path(vtx::native_platform().executable_path());
    sim.set_path_separator(vtx::native_platform().path_separator());
    sim.set_terminal(vtx::native_platform().is_terminal(stderr));
    sim.set_real_time(options.real_time);

    bool trace_failed = false;
    int code = run_tool(options, sim, trace_failed);
    vtx::platform_install(nullptr);

    std::string error;
    if (!sim.save(options.files.state, error)) {
        std::fprintf(stderr, "\n%s: cannot write the state file %s: %s\n", PROGRAM,
                     options.files.state.c_str(), error.c_str());
        return SIM_FAILURE;
    }
    return trace_failed ? SIM_FAILURE : code;
}
