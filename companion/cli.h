// The companion's command line: a command, its operands and its options.
#pragma once

#include <string>
#include <vector>

namespace vtx::companion {

struct Invocation {
    std::string program = "vtx_bridge";  // for messages and help
    std::string command;                 // "" when none was given
    std::vector<std::string> operands;
    bool json = false;
    bool help = false;
    bool version = false;
    std::string raw_path;    // params --raw FILE
    std::string type;        // check --type KIND
    bool strict = false;     // check --strict
    std::string trace_path;  // --trace FILE, on every command
    std::string path;        // update --path PATH
    bool all = false;        // update --all
};

// The commands, in the order the help lists them.
const std::vector<std::string>& command_names();

// Reads argv into `invocation`. 0, or EXIT_USAGE with the reason in `error`;
// what was read before the fault stays in `invocation` (--json among it, so
// even a usage error can answer in JSON).
int parse_invocation(int argc, char** argv, Invocation& invocation, std::string& error);

// The program name for messages: argument 0 after its last separator, without
// a trailing ".exe".
std::string program_name_of(const char* argv0);

}  // namespace vtx::companion
