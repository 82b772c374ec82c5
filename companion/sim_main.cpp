// vtx_bridge_sim: vtx_bridge over simulated bridges. The bridges come from
// the description file vtx_fwupdate_sim reads, or from the state a run of it
// left, so this shows what an update did to them. It sends read commands
// only and never writes the state file.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "companion/bridge_main.h"
#include "device/platform/platform.h"
#include "sim/sim.h"
#include "sim/sim_world.h"

namespace {

constexpr const char* PROGRAM = "vtx_bridge_sim";

struct Options {
    vtx::sim::WorldFiles files;
    bool help = false;
    std::vector<char*> bridge_args;  // argument 0, then vtx_bridge's arguments
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

// "--name VALUE" or "--name=VALUE". 1 taken, 0 not this option, -1 no value.
int take_value(int argc, char** argv, int& i, const char* name, std::string& value) {
    std::size_t length = std::strlen(name);
    if (std::strncmp(argv[i], name, length) != 0)
        return 0;
    if (argv[i][length] == '=') {
        value = argv[i] + length + 1;
        return 1;
    }
    if (argv[i][length] != '\0')
        return 0;
    if (i + 1 >= argc)
        return -1;
    value = argv[++i];
    return 1;
}

// This program's options stand first; the first argument that is none of
// them starts vtx_bridge's own.
bool parse_options(int argc, char** argv, Options& options) {
    options.bridge_args.push_back(argc > 0 ? argv[0] : const_cast<char*>(PROGRAM));
    int i = 1;
    for (; i < argc; ++i) {
        int taken = take_value(argc, argv, i, "--bridges", options.files.bridges);
        if (taken == 0)
            taken = take_value(argc, argv, i, "--state", options.files.state);
        if (taken < 0) {
            std::fprintf(stderr, "%s: %s needs a file name\n", PROGRAM, argv[i]);
            return false;
        }
        if (taken > 0 || std::strcmp(argv[i], "--real-time") == 0)
            continue;
        if (std::strcmp(argv[i], "--reset") == 0)
            options.files.reset = true;
        else if (std::strcmp(argv[i], "--help") == 0 && i + 1 == argc)
            options.help = true;
        else
            break;
    }
    for (; i < argc; ++i)
        options.bridge_args.push_back(argv[i]);
    options.bridge_args.push_back(nullptr);
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
    int code = vtx::companion::bridge_main(int(options.bridge_args.size()) - 1,
                                           options.bridge_args.data(), stdout, stderr);
    std::fflush(stdout);
    vtx::platform_install(nullptr);
    return code;
}
