#include "tools/imagemaker/cli.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "tools/cli/command_line.h"
#include "tools/imagemaker/image_builder.h"
#include "tools/outfile/replace_file.h"

namespace vtx::imagemaker {

namespace {

const char USAGE[] =
    "Usage: vtx_imagemaker COMMAND [ARGUMENTS] [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  firmware            a main image (main format)\n"
    "  rescue              a rescue image, in the format its chip takes\n"
    "  led                 an LED image (\"SDEL\" header)\n"
    "  damaged KIND        an image broken on purpose; KIND is one of the list below\n"
    "  pack-params CFG OUT the 2048-byte parameter area a parameter file encodes to\n"
    "  show-params AREA    an area file (or a 4096-byte header block) as parameter-file text\n"
    "  info FILE           the header fields of an image or LED image\n"
    "  help                this text\n"
    "\n"
    "Options of firmware, rescue and the damaged images:\n"
    "  --chip-id ID        chip id register value, e.g. 0xA0020001 (with --chip-rev)\n"
    "  --chip-rev REV      chip revision (upper 16 bits of the revision register), default 0\n"
    "  --variant N         chip variant code instead of --chip-id\n"
    "  --format F          rescue only: 'rescue' (signature 0x79817981) or 'main' (marked 0xFE);\n"
    "                      default: the format the chip takes\n"
    "  --version X.Y.Z     version the firmware reports, default 1.0.0\n"
    "  --date YYYYMMDD     build date it reports, default 20240101\n"
    "  --size BYTES        body size, a multiple of 4096, default 65536\n"
    "  --body-address A    flash address of the body (default 0x8C010000 firmware,\n"
    "                      0x8C200000 rescue)\n"
    "  --seed N            content seed, default 1 (firmware) or 2 (rescue)\n"
    "  --slot S            damaged only: base the image on a 'main' or 'rescue' image\n"
    "  --out FILE          the file to write (required)\n"
    "\n"
    "Options of led and the damaged LED images:\n"
    "  --address A         flash address of the file's first byte, default 0x8C300000\n"
    "  --size BYTES        file size, at least 64, default 5000\n"
    "  --seed N            content seed, default 1\n"
    "  --out FILE          the file to write (required)\n"
    "\n"
    "Exit codes: 0 done, 1 a file could not be made or was refused, 64 wrong command line.\n";

void print_damage_kinds(std::FILE* stream) {
    std::fprintf(stream, "\nDamaged images (KIND):\n");
    for (const auto& kind : image_damage_kinds()) {
        std::fprintf(stream, "  %-26s %s\n", kind.name, kind.what);
    }
    for (const auto& kind : led_damage_kinds()) {
        std::fprintf(stream, "  %-26s %s\n", kind.name, kind.what);
    }
}

int pack_params(const std::string& cfg, const std::string& out_path, std::FILE* out,
                std::string& error) {
    std::vector<uint8_t> area;
    if (build_parameter_area(cfg, area, error) != 0) {
        error = cfg + ": " + error;
        return EXIT_REFUSED;
    }
    std::string reason;
    if (!outfile::replace_file_apart_from(out_path, cfg, area.data(), area.size(), reason)) {
        error = "cannot write " + out_path + ": " + reason;
        return EXIT_REFUSED;
    }
    std::fprintf(out, "wrote %s: parameter area of %s, %zu bytes\n", out_path.c_str(), cfg.c_str(),
                 area.size());
    return EXIT_OK;
}

int show_params(const std::string& path, std::FILE* out, std::string& error) {
    std::vector<uint8_t> area;
    if (!read_binary_file(path, area, HEADER_BLOCK_SIZE, error))
        return EXIT_REFUSED;
    std::string text;
    int result = format_parameter_area(area, text, error);
    std::fputs(text.c_str(), out);
    if (result != 0) {
        error = path + ": " + error;
        return EXIT_REFUSED;
    }
    return EXIT_OK;
}

// The subcommands: their operands, then the options each takes, in any order.
struct Command {
    std::string name;
    std::vector<std::string> operands;
    std::vector<std::string> options;
};

const std::vector<Command>& commands() {
    static const std::vector<std::string> image = {"chip-id", "chip-rev", "variant", "format",
                                                   "version", "date",     "size",    "body-address",
                                                   "seed",    "out"};
    static const std::vector<std::string> led = {"address", "size", "seed", "out"};
    static const std::vector<std::string> damaged = [] {
        std::vector<std::string> names = image;
        names.insert(names.end(), {"slot", "address"});
        return names;
    }();
    static const std::vector<Command> list = {
        {"firmware", {}, image},
        {"rescue", {}, image},
        {"led", {}, led},
        {"damaged", {"KIND"}, damaged},
        {"pack-params", {"CFG", "OUT"}, {}},
        {"show-params", {"AREA"}, {}},
        {"info", {"FILE"}, {}},
    };
    return list;
}

const Command* command_of(const std::string& name) {
    for (const Command& command : commands()) {
        if (command.name == name)
            return &command;
    }
    return nullptr;
}

// Reads the command's words (argv[0] is the command's name) into `args` and
// `options`. 0, EXIT_USAGE with the reason in `error`, or -1 for --help.
int parse_command(const Command& command, int argc, char** argv, std::vector<std::string>& args,
                  OptionMap& options, std::string& error) {
    CLI::App app;
    cli::configure(app);
    bool help = false;
    app.add_flag("-h,--help", help);
    OptionMap values;
    for (const std::string& name : command.options)
        app.add_option("--" + name, values[name]);
    args.resize(command.operands.size());
    for (size_t i = 0; i < args.size(); ++i)
        app.add_option(command.operands[i], args[i])->required();
    std::vector<std::string> rest;
    if (!cli::parse(app, argc, argv, rest, error))
        return EXIT_USAGE;
    if (help)
        return -1;
    for (const std::string& name : command.options) {
        if (app.get_option("--" + name)->count() > 0)
            options[name] = values[name];
    }
    return 0;
}

int dispatch(const std::string& name, const std::vector<std::string>& args,
             const OptionMap& options, std::FILE* out, std::string& error) {
    if (name == "firmware" || name == "rescue")
        return run_image_command(name, options, out, error);
    if (name == "led")
        return run_led_command(options, out, error);
    if (name == "damaged")
        return run_damaged_command(args[0], options, out, error);
    if (name == "pack-params")
        return pack_params(args[0], args[1], out, error);
    if (name == "show-params")
        return show_params(args[0], out, error);
    return run_info_command(args[0], out, error);
}

void print_help(std::FILE* out) {
    std::fputs(USAGE, out);
    print_damage_kinds(out);
}

}  // namespace

bool parse_u32(const std::string& text, uint32_t* value) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    // Hexadecimal only with its prefix: a leading zero is not octal here.
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    errno = 0;
    char* end = nullptr;
    unsigned long long parsed = std::strtoull(text.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
    if (hex && !std::isxdigit(static_cast<unsigned char>(text[2])))
        return false;
    if (errno != 0 || *end != '\0' || parsed > 0xFFFFFFFFull)
        return false;
    *value = uint32_t(parsed);
    return true;
}

bool parse_version(const std::string& text, uint32_t* major, uint32_t* minor, uint32_t* patch) {
    uint32_t* fields[] = {major, minor, patch};
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        size_t dot = i < 2 ? text.find('.', start) : text.size();
        if (dot == std::string::npos)
            return false;
        std::string part = text.substr(start, dot - start);
        if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos)
            return false;
        if (part.size() > 9)
            return false;
        *fields[i] = uint32_t(std::strtoul(part.c_str(), nullptr, 10));
        start = dot + 1;
    }
    return true;
}

bool parse_date(const std::string& text, uint32_t* date) {
    if (text.size() != 8 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    uint32_t value = uint32_t(std::strtoul(text.c_str(), nullptr, 10));
    uint32_t month = value / 100 % 100;
    uint32_t day = value % 100;
    if (month < 1 || month > 12 || day < 1 || day > 31)
        return false;
    *date = value;
    return true;
}

int imagemaker_main(int argc, char** argv, std::FILE* out, std::FILE* err) {
    if (argc < 2) {
        std::fputs("vtx_imagemaker: no command given\n\n", err);
        std::fputs(USAGE, err);
        return EXIT_USAGE;
    }
    std::string name = argv[1];
    if (name == "help" || name == "--help" || name == "-h") {
        print_help(out);
        return EXIT_OK;
    }
    const Command* command = command_of(name);
    std::string error;
    std::vector<std::string> args;
    OptionMap options;
    int code = EXIT_USAGE;
    if (command == nullptr)
        error = "unknown command '" + name + "' (try --help)";
    else
        code = parse_command(*command, argc - 1, argv + 1, args, options, error);
    if (code < 0) {
        print_help(out);
        return EXIT_OK;
    }
    if (code == 0)
        code = dispatch(name, args, options, out, error);
    if (code != EXIT_OK)
        std::fprintf(err, "vtx_imagemaker: %s\n", error.c_str());
    return code;
}

}  // namespace vtx::imagemaker
