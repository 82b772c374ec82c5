// vtx_bridge_sim: vtx_bridge over simulated bridges. The bridges come from
// the description file vtx_fwupdate_sim reads, or from the state a run of it
// left, so this shows what an update did to them. It sends read commands
// only and never writes the state file.
#include <cstdio>
#include <string>
#include <vector>

#include "companion/bridge_main.h"
#include "device/platform/platform.h"
#include "sim/sim.h"
#include "sim/sim_world.h"
#include "tools/cli/command_line.h"

namespace {

constexpr const char* PROGRAM = "vtx_bridge_sim";

struct Options {
    vtx::sim::WorldFiles files;
    bool help = false;
    std::vector<std::string> bridge_args;  // argument 0, then vtx_bridge's arguments
};

void print_help(std::FILE* stream) {
    std::fprintf(stream,
                 "Usage: %s [--bridges FILE] [--state FILE] [--reset] COMMAND ...\n"
                 "\n"
                 "Runs vtx_bridge on simulated bridges.\n"
                 "\n"
                 "  --bridges FILE  bridge description (default: %s beside this program)\n"
                 "  --state FILE    state left by vtx_fwupdate_sim (default: %s beside it);\n"
                 "                  when it exists, it is used instead of the description\n"
                 "  --reset         start from the description, whatever the state file holds\n"
                 "\n",
                 PROGRAM, vtx::sim::WORLD_DESCRIPTION_FILE, vtx::sim::WORLD_STATE_FILE);
}

// This program's options stand first; the first word that is none of them
// starts vtx_bridge's own arguments. --real-time is taken, and means nothing
// here, so a command line of vtx_fwupdate_sim serves both programs.
bool parse_options(int argc, char** argv, Options& options) {
    CLI::App app;
    vtx::cli::configure(app);
    app.prefix_command();
    bool real_time = false;
    app.add_option("--bridges", options.files.bridges);
    app.add_option("--state", options.files.state);
    app.add_flag("--reset", options.files.reset);
    app.add_flag("--real-time", real_time);
    app.add_flag("-h,--help", options.help);
    std::vector<std::string> rest;
    std::string error;
    if (!vtx::cli::parse(app, argc, argv, rest, error)) {
        std::fprintf(stderr, "%s: %s (try --help)\n", PROGRAM, error.c_str());
        return false;
    }
    options.bridge_args.push_back(argc > 0 ? argv[0] : PROGRAM);
    // --help before a command asks for that command's help.
    if (options.help && !rest.empty())
        options.bridge_args.push_back("--help");
    options.help = options.help && rest.empty();
    options.bridge_args.insert(options.bridge_args.end(), rest.begin(), rest.end());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse_options(argc, argv, options))
        return vtx::companion::EXIT_USAGE;
    if (options.help) {
        print_help(stdout);
        vtx::companion::print_global_help(stdout, PROGRAM);
        return vtx::companion::EXIT_DONE;
    }
    vtx::sim::default_world_files(options.files);

    vtx::sim::SimPlatform sim;
    if (!vtx::sim::load_world(options.files, sim, PROGRAM))
        return vtx::companion::EXIT_FAILED;
    vtx::platform_install(&sim);
    std::vector<char*> argv_of_bridge;
    for (std::string& arg : options.bridge_args)
        argv_of_bridge.push_back(arg.data());
    argv_of_bridge.push_back(nullptr);
    int code = vtx::companion::bridge_main(int(options.bridge_args.size()), argv_of_bridge.data(),
                                           stdout, stderr);
    std::fflush(stdout);
    vtx::platform_install(nullptr);
    return code;
}
