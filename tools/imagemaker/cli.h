// The vtx_imagemaker command line, callable in-process so its tests need no
// child process.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>

#include "tools/cli/exit_usage.h"

namespace vtx::imagemaker {

// Exit codes of the program.
constexpr int EXIT_OK = 0;
constexpr int EXIT_REFUSED = 1;              // a file could not be made, read or accepted
constexpr int EXIT_USAGE = cli::EXIT_USAGE;  // the command line itself is wrong (64)

// Runs one command line (argv[0] is the program name); messages go to `out`
// and `err`. Returns the exit code.
int imagemaker_main(int argc, char** argv, std::FILE* out, std::FILE* err);

// The options given to a subcommand, by name without "--": "--key value" or
// "--key=value".
using OptionMap = std::map<std::string, std::string>;

// Helpers shared by the subcommands. Each returns false (with the reason in
// `error`) when the text does not hold what it should.
bool parse_u32(const std::string& text, uint32_t* value);
bool parse_version(const std::string& text, uint32_t* major, uint32_t* minor, uint32_t* patch);
bool parse_date(const std::string& text, uint32_t* date);

// The subcommands; `error` receives a one-line reason on failure.
int run_image_command(const std::string& command, const OptionMap& options, std::FILE* out,
                      std::string& error);
int run_led_command(const OptionMap& options, std::FILE* out, std::string& error);
int run_damaged_command(const std::string& kind, const OptionMap& options, std::FILE* out,
                        std::string& error);
int run_info_command(const std::string& path, std::FILE* out, std::string& error);

}  // namespace vtx::imagemaker
