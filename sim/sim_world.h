// The simulated computer of the programs that run over the simulated platform
// (vtx_fwupdate_sim, vtx_bridge_sim): a description of its bridges, and the
// state an earlier run left, both by default beside the program.
#pragma once

#include <string>

#include "sim/sim.h"

namespace vtx::sim {

constexpr const char* WORLD_DESCRIPTION_FILE = "bridges.txt";
constexpr const char* WORLD_STATE_FILE = "sim_state.txt";

struct WorldFiles {
    std::string bridges;  // "" means the default beside the program
    std::string state;
    bool reset = false;  // start from the description whatever the state holds
};

// Fills in the files not given: the defaults beside the running program.
void default_world_files(WorldFiles& files);

// Loads the state file when there is one (and no reset is asked for), else
// the description. On failure it says why on standard error, under the
// program's name, and gives false.
bool load_world(const WorldFiles& files, SimPlatform& sim, const char* program);

}  // namespace vtx::sim
