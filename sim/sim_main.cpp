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
#include "tools/cli/command_line.h"

namespace {

constexpr const char* PROGRAM = "vtx_fwupdate_sim";
// The program's own failures, apart from the tool's exit codes 0 and 1 and a
// wrong command line (vtx::cli::EXIT_USAGE).
constexpr int SIM_FAILURE = 2;

struct Options {
    vtx::sim::WorldFiles files;
    bool real_time = false;
    bool help = false;
    std::string trace;                   // --trace FILE
    std::vector<std::string> given;      // every argument after the program name
    std::vector<std::string> tool_args;  // argument 0, then the tool's arguments
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

// Options stand first; the first word that is not one (or everything after
// "--") is the tool's, so the tool sees exactly what the user typed. A file
// of the tool whose name starts with "-" goes after "--".
bool parse_options(int argc, char** argv, Options& options) {
    CLI::App app;
    vtx::cli::configure(app);
    app.prefix_command();
    app.add_option("--bridges", options.files.bridges);
    app.add_option("--state", options.files.state);
    app.add_option("--trace", options.trace);
    app.add_flag("--reset", options.files.reset);
    app.add_flag("--real-time", options.real_time);
    app.add_flag("-h,--help", options.help);
    std::vector<std::string> rest;
    std::string error;
    bool parsed = vtx::cli::parse(app, argc, argv, rest, error);
    if (parsed && !rest.empty() && rest[0] != "--" && rest[0].size() > 1 && rest[0][0] == '-') {
        error = "unknown option " + rest[0];
        parsed = false;
    }
    if (!parsed) {
        std::fprintf(stderr, "%s: %s (try --help)\n", PROGRAM, error.c_str());
        return false;
    }
    if (!rest.empty() && rest[0] == "--")
        rest.erase(rest.begin());
    for (int i = 1; i < argc; ++i)
        options.given.push_back(argv[i]);
    options.tool_args.push_back(argc > 0 ? argv[0] : PROGRAM);
    options.tool_args.insert(options.tool_args.end(), rest.begin(), rest.end());
    return true;
}

// The tool's run, traced when the user asked for it: the trace file replaces
// an old one only once the run is done.
int run_tool(const Options& options, vtx::sim::SimPlatform& sim, bool& trace_failed) {
    std::vector<std::string> words = options.tool_args;
    std::vector<char*> args;
    for (std::string& word : words)
        args.push_back(word.data());
    args.push_back(nullptr);
    vtx::Console console{stdout, stderr, stdin};
    auto run = [&] {
        int code = vtx::vtx_main(int(args.size()) - 1, args.data(), console);
        vtx::console_flush(console);
        return code;
    };
    vtx::platform_install(&sim);
    if (options.trace.empty())
        return run();
    vtx::TracedRun traced =
        vtx::run_traced(options.trace, {PROGRAM, vtx::TOOL_VERSION, options.given}, run);
    if (traced.error.empty())
        return traced.code;
    std::fprintf(stderr, "%s%s: cannot write the trace %s: %s\n", traced.ran ? "\n" : "", PROGRAM,
                 options.trace.c_str(), traced.error.c_str());
    trace_failed = true;
    return traced.ran ? traced.code : SIM_FAILURE;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse_options(argc, argv, options))
        return vtx::cli::EXIT_USAGE;
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
