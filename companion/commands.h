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
int run_update(const Output& output);

// The bridge a command works on, opened: its operand, else the first one
// discovery admits. EXIT_DONE with `bridge` open, or the exit code once the
// failure has been reported.
int open_target(const Output& output, std::string& path, OpenedBridge& bridge);

// "no bridge found", with the likely reason when not elevated.
std::string none_found_message();

// Why `path` gives no bridge to work on, for open_bridge's outcome.
std::string open_failure_message(const std::string& path, OpenOutcome outcome,
                                 OpenedBridge& bridge);

}  // namespace vtx::companion
