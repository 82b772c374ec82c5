#include "app/startup.h"

#include <cstdio>

#include "app/device_check.h"
#include "device/platform/platform.h"

namespace vtx {

namespace {

// Version and date texts live in 64-byte buffers.
constexpr int VERSION_TEXT_SIZE = 64;

void print_banner(const RunPaths& paths, const Console& console) {
    console_out(console, "[INFO] vtx_fwupdate v%s - Firmware Update Tool\n", TOOL_VERSION);
    console_out(console, "[INFO] Bin:      %s\n", paths.bin->c_str());
    console_out(console, "[INFO] Rescue:   %s\n", paths.rescuebin->c_str());
    console_out(console, "[INFO] Config:   %s\n", paths.cfg->c_str());
    console_out(console, "[INFO] LED:      %s\n", paths.led ? paths.led->c_str() : "(none)");
}

}  // namespace

std::string file_name_part(const std::string& path) {
    std::size_t last = path.rfind('\\');
    if (last == std::string::npos)
        last = path.rfind('/');
    return last == std::string::npos ? path : path.substr(last + 1);
}

int parse_expected_version(const std::string& bin_path, ExpectedVersion& expected) {
    std::string name = file_name_part(bin_path);
    std::size_t marker = name.find("_v");
    if (marker == std::string::npos)
        return EXPECTED_NO_MARKER;
    // The date field takes up to six characters, whatever they are: it ends
    // at white space or after six, so 'fw_v1.2.3.0615.bin' dates as '0615.b'.
    unsigned major = 0, minor = 0, patch = 0;
    char date[7] = {};
    if (std::sscanf(name.c_str() + marker + 2, "%u.%u.%u.%6s", &major, &minor, &patch, date) != 4)
        return EXPECTED_UNREADABLE;
    char version[VERSION_TEXT_SIZE];
    std::snprintf(version, sizeof version, "%u.%u.%u", major, minor, patch);
    expected.version = version;
    expected.date = date;
    return EXPECTED_FOUND;
}

int read_expected_version(const std::string& bin_path, const Console& console,
                          ExpectedVersion& expected) {
    std::string name = file_name_part(bin_path);
    switch (parse_expected_version(bin_path, expected)) {
        case EXPECTED_NO_MARKER:
            console_err(console, "[ERROR] Cannot find '_v' in filename: %s\n", name.c_str());
            return 1;
        case EXPECTED_UNREADABLE:
            console_err(console, "[ERROR] Cannot parse version from: %s\n",
                        name.c_str() + name.find("_v") + 2);
            return 1;
        default:
            break;
    }
    console_out(console, "[INFO] Expected FW version: %s, build date: %s\n",
                expected.version.c_str(), expected.date.c_str());
    return 0;
}

bool app_start(int argc, char** argv, const Console& console, StartResult& result) {
    result.exit_code = 1;
    if (settings_resolve(argc, argv, console, result.paths) != 0)
        return false;
    print_banner(result.paths, console);

    // Only the elevated instance goes on to the device. This one ends with
    // what the platform reports: 0 on Windows, the elevated run's own exit
    // code on Linux, 1 when no elevated instance could be started at all.
    if (!platform().is_elevated()) {
        console_out(console, "[INFO] Not running as administrator, re-launching...\n");
        console_flush(console);
        std::string failure;
        result.exit_code = platform().relaunch_elevated(argc, argv, failure);
        if (result.exit_code < 0) {
            console_err(console, "[ERROR] Cannot start the elevated instance: %s\n",
                        failure.c_str());
            result.exit_code = 1;
        }
        return false;
    }
    console_out(console, "[INFO] Running as administrator\n");

    if (read_expected_version(*result.paths.bin, console, result.expected) != 0)
        return false;
    result.exit_code = 0;
    return true;
}

int vtx_main(int argc, char** argv, const Console& console) {
    StartResult start;
    if (!app_start(argc, argv, console, start))
        return start.exit_code;
    return app_device_check(start.paths, start.expected, console);
}

}  // namespace vtx
