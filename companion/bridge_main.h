// vtx_bridge: the companion of vtx_fwupdate for people who look after many
// bridges. It lists bridges, shows what one says about itself, reads its
// parameters back as a parameter file, and checks update files offline. Only
// its update command writes to a bridge, through vtx_fwupdate's engine.
#pragma once

#include <cstdio>

#include "tools/cli/exit_usage.h"

namespace vtx::companion {

// Exit codes, the same for every command.
constexpr int EXIT_DONE = 0;
constexpr int EXIT_FAILED = 1;               // a read, a check or a file went wrong
constexpr int EXIT_NONE_FOUND = 2;           // no bridge to work on
constexpr int EXIT_USAGE = cli::EXIT_USAGE;  // the command line is wrong (64)

// JSON documents carry this in "schema"; it grows only when a key changes
// meaning or goes away, never for a new key.
constexpr int JSON_SCHEMA = 1;

// The whole program over the installed platform, writing to `out` and `err`.
// The result is the process exit code.
int bridge_main(int argc, char** argv, std::FILE* out, std::FILE* err);

// The global help text, as `vtx_bridge --help` prints it.
void print_global_help(std::FILE* out, const char* program);

}  // namespace vtx::companion
