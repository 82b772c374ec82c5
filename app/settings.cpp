#include "app/settings.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "device/platform/platform.h"
#include "vtx/file.h"

namespace vtx {

namespace {

constexpr const char* SETTINGS_SECTION = "Firmware";
constexpr const char* SETTINGS_FILE_NAME = "config.ini";
// One read takes at most 511 characters; a longer line arrives in pieces,
// and each piece counts as a line of its own.
constexpr int LINE_BUFFER_SIZE = 512;

char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool key_matches(const char* line, std::size_t length, const char* key) {
    if (length != std::strlen(key))
        return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (ascii_lower(line[i]) != ascii_lower(key[i]))
            return false;
    }
    return true;
}

void strip_line_end(char* line) {
    std::size_t length = std::strlen(line);
    while (length > 0 && (line[length - 1] == '\r' || line[length - 1] == '\n')) {
        line[--length] = '\0';
    }
}

std::string cut(std::string text) {
    if (text.size() > SETTINGS_TEXT_MAX)
        text.resize(SETTINGS_TEXT_MAX);
    return text;
}

void print_usage(const Console& console, const char* argv0) {
    console_err(console, "Usage: %s [<bin> <rescuebin> <cfg> [led]]\n",
                program_name(argv0).c_str());
    console_err(console, "\n");
    console_err(console, "  Reads config.ini from the executable directory by default.\n");
    console_err(console, "  Command-line arguments override config.ini:\n");
    console_err(console, "    bin        Firmware binary path\n");
    console_err(console, "    rescuebin  Rescue firmware binary path\n");
    console_err(console, "    cfg        Configuration file path\n");
    console_err(console, "    led        LED binary path (optional)\n");
}

// The settings file counts as loaded exactly when it gives `bin`; only then
// are the other keys looked at. A missing rescuebin or cfg still becomes a
// (useless) path, so the update names the file it cannot use.
void load_settings_file(const Console& console, RunPaths& paths) {
    SettingsLocation location = settings_locate();
    if (location.file.empty())
        return;
    std::string bin;
    if (ini_read_value(location.file, "bin", bin) != 0)
        return;
    std::string rescuebin, cfg, led;
    ini_read_value(location.file, "rescuebin", rescuebin);
    ini_read_value(location.file, "cfg", cfg);
    ini_read_value(location.file, "led", led);
    paths.bin = settings_value_path(location, bin);
    paths.rescuebin = settings_value_path(location, rescuebin);
    paths.cfg = settings_value_path(location, cfg);
    if (!led.empty())
        paths.led = settings_value_path(location, led);
    console_out(console, "[INFO] Loaded config: %s\n", location.file.c_str());
}

// Command-line paths are taken as typed: relative ones stay relative to the
// working directory. One or two arguments are not enough to override.
void apply_arguments(int argc, char** argv, RunPaths& paths) {
    if (argc < 4)
        return;
    paths.bin = argv[1];
    paths.rescuebin = argv[2];
    paths.cfg = argv[3];
    if (argc >= 5)
        paths.led = argv[4];
}

}  // namespace

int ini_read_value(const std::string& path, const char* key, std::string& value) {
    File file(open_regular_file(path.c_str(), "r"));
    if (!file)
        return -1;

    char header[LINE_BUFFER_SIZE];
    std::snprintf(header, sizeof header, "[%s]", SETTINGS_SECTION);
    bool in_section = false;
    char line[LINE_BUFFER_SIZE];
    while (std::fgets(line, sizeof line, file.get())) {
        strip_line_end(line);
        if (line[0] == '\0' || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[') {
            in_section = std::strcmp(line, header) == 0;
            continue;
        }
        if (!in_section)
            continue;
        const char* equals = std::strchr(line, '=');
        if (!equals || !key_matches(line, std::size_t(equals - line), key))
            continue;
        const char* text = equals + 1;
        while (*text == ' ' || *text == '\t')
            ++text;
        value = cut(text);
        return 0;
    }
    return -1;
}

SettingsLocation settings_locate() {
    SettingsLocation location;
    location.separator = platform().path_separator();
    std::string executable = platform().executable_path();
    if (executable.empty() || executable.size() > SETTINGS_TEXT_MAX)
        return location;
    std::size_t last = executable.rfind(location.separator);
    location.directory = last == std::string::npos ? executable : executable.substr(0, last);
    location.file = cut(location.directory + location.separator + SETTINGS_FILE_NAME);
    return location;
}

std::string settings_value_path(const SettingsLocation& location, const std::string& value) {
    bool absolute = (!value.empty() && (value[0] == '\\' || value[0] == '/')) ||
                    (value.size() > 2 && value[1] == ':');
    if (absolute)
        return value;
    return cut(location.directory + location.separator + value);
}

std::string program_name(const char* argv0) {
    // A process may be started without even argument 0.
    if (!argv0)
        return "vtx_fwupdate";
    const char* name = std::strrchr(argv0, '\\');
    if (!name)
        name = std::strrchr(argv0, '/');
    return name ? name + 1 : argv0;
}

int settings_resolve(int argc, char** argv, const Console& console, RunPaths& paths) {
    paths = RunPaths{};
    load_settings_file(console, paths);
    apply_arguments(argc, argv, paths);
    if (paths.bin && paths.rescuebin && paths.cfg)
        return 0;
    print_usage(console, argc > 0 ? argv[0] : nullptr);
    return 1;
}

}  // namespace vtx
