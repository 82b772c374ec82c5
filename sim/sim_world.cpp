#include "sim/sim_world.h"

#include <cstdio>
#include <filesystem>

#include "tools/outfile/replace_file.h"
#include "vtx/file.h"

namespace vtx::sim {

void default_world_files(WorldFiles& files) {
    std::string self = native_platform().executable_path();
    std::size_t last = self.rfind(native_platform().path_separator());
    std::string directory = last == std::string::npos ? std::string() : self.substr(0, last + 1);
    if (files.bridges.empty())
        files.bridges = directory + WORLD_DESCRIPTION_FILE;
    if (files.state.empty())
        files.state = directory + WORLD_STATE_FILE;
}

bool load_world(const WorldFiles& files, SimPlatform& sim, const char* program) {
    // The run ends by writing the state file: the description must not be it.
    if (outfile::same_file(files.bridges, files.state)) {
        std::fprintf(stderr, "%s: the state file %s is the description %s; give another --state\n",
                     program, files.state.c_str(), files.bridges.c_str());
        return false;
    }
    std::string error;
    // Anything at the state file's path is the state: a link that leads
    // nowhere, or round in a loop, is refused rather than passed over.
    std::error_code ignored;
    auto entry = std::filesystem::symlink_status(native_path(files.state), ignored);
    if (!files.reset && entry.type() != std::filesystem::file_type::not_found) {
        if (sim.load(files.state, error))
            return true;
        std::fprintf(stderr, "%s: %s\n%s: --reset starts again from the description\n", program,
                     error.c_str(), program);
        return false;
    }
    if (load_description(files.bridges, sim, error))
        return true;
    std::fprintf(stderr, "%s: %s\n", program, error.c_str());
    return false;
}

}  // namespace vtx::sim
