// The companion's commands. Each takes the parsed command line and the
// output streams and gives the process exit code.
#pragma once

#include <string>

#include "companion/output.h"
#include "companion/probe.h"

namespace vtx::companion {

int run_list(const Output& output);
int run_info(const Output& output);
int run_params(const Output& output);
int run_check(const Output& output);
int run_pack_params(const Output& output);
int run_save_firmware(const Output& output);

// The bridge a command works on: its operand, else the first one discovery
// admits. False with the exit code and message when there is none.
bool target_path(const Output& output, std::string& path, int& code, std::string& message);

// Why `path` gives no bridge to work on, for open_bridge's outcome.
std::string open_failure_message(const std::string& path, OpenOutcome outcome,
                                 OpenedBridge& bridge);

}  // namespace vtx::companion
