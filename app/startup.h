// The program's entry and the first stage of every run: settings, banner,
// administrator rights, and the version the firmware image's name promises.
#pragma once

#include <string>

#include "app/console.h"
#include "app/settings.h"

namespace vtx {

constexpr const char* TOOL_VERSION = "1.0.0.60820";

// What the firmware image's file name says the bridge will run: the version
// text "major.minor.patch" and the build-date field as written (1 to 6
// characters, meant as mmddyy). Each fits the tool's 64-byte text buffers.
struct ExpectedVersion {
    std::string version;
    std::string date;
};

// The file name part of a path: after its last backslash, else after its last
// '/', else the whole path.
std::string file_name_part(const std::string& path);

// The expected version in the "_v" part of the firmware image's file name,
// read without a word: EXPECTED_FOUND with `expected`, EXPECTED_NO_MARKER when
// the name has no "_v", EXPECTED_UNREADABLE when no version follows it.
constexpr int EXPECTED_FOUND = 0;
constexpr int EXPECTED_NO_MARKER = -1;
constexpr int EXPECTED_UNREADABLE = -2;
int parse_expected_version(const std::string& bin_path, ExpectedVersion& expected);

// Reads the expected version from the "_v" part of the firmware image's file
// name and prints it. 0, or the exit code 1 after the error line.
int read_expected_version(const std::string& bin_path, const Console& console,
                          ExpectedVersion& expected);

// What the start hands to the device check, or the exit code of a run that
// ends in the start.
struct StartResult {
    RunPaths paths;
    ExpectedVersion expected;
    int exit_code = 0;
};

// The first stage: settings, banner, administrator rights, expected version.
// True when the run goes on to the device check; false when it ends here with
// `result.exit_code` (usage, re-launch, a firmware name without a version).
bool app_start(int argc, char** argv, const Console& console, StartResult& result);

// One whole run; the result is the process exit code.
int vtx_main(int argc, char** argv, const Console& console);

}  // namespace vtx
