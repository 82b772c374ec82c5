// The command lines of the programs around the update tool, read with CLI11:
// "--name VALUE" and "--name=VALUE", "--" ending the options, and a one-line
// reason for every wrong command line. The help texts stay each program's own.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "tools/cli/exit_usage.h"

namespace vtx::cli {

// An App that takes options in their "--name" and "-n" forms only (never
// "/name", on Windows neither, where that is a path), flags without a value
// ("--json=no" is wrong), each option at most once, and no help option of
// its own.
void configure(CLI::App& app);

// Reads argv[1] to argv[argc - 1] into `app`. False with a one-line reason
// naming the offending argument in `error`. A value given apart from its
// option must not start with "-": "--raw -x" is an option without its value,
// so a forgotten value never swallows the option after it; "--raw=-x" names
// the file "-x". An unknown option is refused, and so is a word no positional
// takes. With the App's prefix_command, the first word that is no option of
// its own and all after it are left in `rest` as given, together with the
// options it does not know and a "--", for the program that takes them.
// After a failure, the options and positionals hold their results() as far
// as they were read.
bool parse(CLI::App& app, int argc, char** argv, std::vector<std::string>& rest,
           std::string& error);

}  // namespace vtx::cli
