#include "sim/sim_world.h"

#include <cstdio>
#include <filesystem>

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
    std::string error;
    std::error_code missing;
    if (!files.reset && std::filesystem::exists(files.state, missing)) {
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
