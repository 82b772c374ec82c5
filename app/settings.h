// The tool's settings: the four file paths of a run, from config.ini beside
// the executable and from the command line.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "app/console.h"

namespace vtx {

// Paths, values and the settings file path live in 1024-byte buffers in the
// tool's design: anything longer is cut to this many characters.
constexpr std::size_t SETTINGS_TEXT_MAX = 1023;

// The four paths of a run. Absent and present-but-empty differ: an empty LED
// path given on the command line is present, and the update skips the LED.
struct RunPaths {
    std::optional<std::string> bin;        // firmware image
    std::optional<std::string> rescuebin;  // rescue image
    std::optional<std::string> cfg;        // bridge parameter file
    std::optional<std::string> led;        // LED image, optional
};

// Looks `key` up in the [Firmware] section of the settings file `path`.
// 0 with the value, or -1 with `value` untouched when the file cannot be
// opened or holds no matching line.
int ini_read_value(const std::string& path, const char* key, std::string& value);

// Where the settings file is looked for: the executable's directory (cut at
// its last separator) and "<dir><sep>config.ini". `file` is empty when the
// platform cannot tell the executable's path.
struct SettingsLocation {
    std::string directory;
    std::string file;
    char separator = '\\';
};
SettingsLocation settings_locate();

// A settings value as a path: absolute values unchanged, others joined to the
// executable's directory.
std::string settings_value_path(const SettingsLocation& location, const std::string& value);

// The program name of the usage text: argument 0 after its last backslash,
// else after its last '/', else whole.
std::string program_name(const char* argv0);

// Settings file first, then the command line. 0 with `paths` when the three
// required paths are present; otherwise the usage text on standard error and
// the exit code 1.
int settings_resolve(int argc, char** argv, const Console& console, RunPaths& paths);

}  // namespace vtx
