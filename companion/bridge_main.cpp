#include "companion/bridge_main.h"

#include <exception>
#include <string>

#include "companion/cli.h"
#include "companion/commands.h"
#include "companion/output.h"
#include "companion/text.h"
#include "device/platform/trace_platform.h"

namespace vtx::companion {

namespace {

struct CommandHelp {
    const char* name;
    const char* usage;  // after the program name
    const char* text;
};

const CommandHelp COMMAND_HELP[] = {
    {"list", "list [--json]",
     "Lists every bridge that discovery admits, in discovery order (physical\n"
     "drives by number, then lettered volumes): device path and name, and the\n"
     "drive behind it: model, serial number, firmware revision and ATA security\n"
     "state. Text trims blanks; JSON keeps every field exactly as read.\n"
     "\n"
     "Exit codes: 0 bridges listed, 2 none found.\n"},
    {"info", "info [--json] [PATH]",
     "Shows what one bridge says about itself: chip family, chip id and revision,\n"
     "the image variant it takes, firmware version and build date, run mode,\n"
     "identity word, largest transfer, and whether it answers the readiness\n"
     "check. Only read commands are sent. PATH defaults to the first bridge.\n"
     "\n"
     "Exit codes: 0 shown (a query that failed is shown as failed), 2 no bridge\n"
     "at PATH, or none found.\n"},
    {"params", "params [--json] [--raw FILE] [PATH]",
     "Reads the bridge's 2048-byte parameter area and prints it as parameter-file\n"
     "text that vtx_fwupdate takes back as its cfg file. PATH defaults to the\n"
     "first bridge.\n"
     "\n"
     "  --raw FILE  also save the 2048 bytes as read\n"
     "\n"
     "Exit codes: 0 printed, 1 the area could not be read or decoded (the records\n"
     "before the fault are printed and the place is named), 2 no bridge.\n"},
    {"check", "check [--json] [--type KIND] [--strict] FILE...",
     "Checks update files without a bridge: firmware and rescue images (CRC,\n"
     "format, slot, chip variant and the chips it fits, layout), LED images\n"
     "(header, lengths, flash range), parameter files (each line the update tool\n"
     "drops and why, values it stores otherwise than written, packed size) and\n"
     "parameter areas. The kind of each file comes from its content.\n"
     "\n"
     "  --type KIND  check every FILE as KIND: firmware, rescue (both also check\n"
     "               the slot), image, led, params or area\n"
     "  --strict     a warning fails the file too\n"
     "\n"
     "Exit codes: 0 every file passed, 1 a file failed.\n"},
    {"pack-params", "pack-params [--json] CFG OUT",
     "Writes to OUT the 2048-byte parameter area that the parameter file CFG\n"
     "encodes to: the bytes vtx_fwupdate programs into the bridge.\n"
     "\n"
     "Exit codes: 0 written, 1 the update tool would refuse CFG, or OUT cannot\n"
     "be written.\n"},
    {"save-firmware", "save-firmware [--json] [PATH] [OUT]",
     "Saves the firmware the bridge runs as an image file that vtx_fwupdate takes\n"
     "back: the image header from the header block, then the lead region and the\n"
     "body where the header places them, read through the read window with read\n"
     "commands only. The payload read back must match the header's CRC-32, or\n"
     "nothing is written. OUT defaults to fw_vX.Y.Z.mmddyy.bin in the current\n"
     "directory, named from the bridge's version reply; PATH defaults to the first\n"
     "bridge (give \"\" for it when naming OUT). An existing OUT is replaced whole.\n"
     "A bridge in its rescue firmware, or an image whose CRC covers the bytes the\n"
     "bridge keeps its parameters in, is refused.\n"
     "\n"
     "Exit codes: 0 saved, 1 refused, a read failed, the CRC does not match or OUT\n"
     "cannot be written, 2 no bridge.\n"},
    {"update", "update [--json] [--path PATH | --all] BIN RESCUE [CFG] [LED]",
     "Updates bridges with vtx_fwupdate's update engine: BIN the firmware image\n"
     "(its name carries the version), RESCUE the rescue image, CFG the parameter\n"
     "file, LED the LED image. A bridge that runs the version BIN's name gives is\n"
     "left alone, unless it runs its rescue firmware. No key wait; on a terminal\n"
     "the progress line runs on standard error.\n"
     "\n"
     "  --path PATH  update this bridge (default: the only bridge)\n"
     "  --all        update every bridge, one after the other\n"
     "\n"
     "Exit codes: 0 every bridge updated or current, 1 a bridge not updated or the\n"
     "name of BIN gives no version, 2 no bridge, 64 several bridges and neither\n"
     "--path nor --all (they are listed).\n"},
};

const CommandHelp* help_of(const std::string& name) {
    for (const CommandHelp& help : COMMAND_HELP) {
        if (name == help.name)
            return &help;
    }
    return nullptr;
}

void print_command_help(std::FILE* out, const char* program, const CommandHelp& help) {
    std::fprintf(out, "Usage: %s %s\n\n%s", program, help.usage, help.text);
}

int usage_error(const Output& output, const std::string& message) {
    if (output.json())
        return finish_early(output, EXIT_USAGE, message);
    const char* program = output.invocation->program.c_str();
    std::fprintf(output.err, "%s: %s\nTry '%s --help'.\n", program, message.c_str(), program);
    return EXIT_USAGE;
}

int show_help(const Output& output, const std::string& topic) {
    const char* program = output.invocation->program.c_str();
    if (topic.empty()) {
        print_global_help(output.out, program);
        return EXIT_DONE;
    }
    const CommandHelp* help = help_of(topic);
    if (help == nullptr)
        return usage_error(output, "no command " + topic);
    print_command_help(output.out, program, *help);
    return EXIT_DONE;
}

int dispatch(const Output& output) {
    const std::string& command = output.invocation->command;
    if (command == "list")
        return run_list(output);
    if (command == "info")
        return run_info(output);
    if (command == "params")
        return run_params(output);
    if (command == "check")
        return run_check(output);
    if (command == "save-firmware")
        return run_save_firmware(output);
    if (command == "update")
        return run_update(output);
    if (command == "pack-params")
        return run_pack_params(output);
    // A command the parser knows and this build does not carry.
    return usage_error(output, "unknown command " + command);
}

// What a command throws (no memory, a JSON value the library refuses) ends it
// as a failure with the reason; nothing is thrown out of the program.
int dispatch_guarded(const Output& output) {
    std::string reason;
    try {
        return dispatch(output);
    } catch (const std::exception& e) {
        reason = e.what();
    } catch (...) {
        reason = "unknown exception";
    }
    std::string message = "the command stopped: " + reason;
    try {
        return finish_early(output, EXIT_FAILED, message);
    } catch (...) {
        std::fprintf(output.err, "%s: %s\n", output.invocation->program.c_str(), message.c_str());
        return EXIT_FAILED;
    }
}

// The command with every platform call traced to the --trace file, which
// replaces an old one only once the command is done.
int dispatch_traced(const Output& output, int argc, char** argv) {
    const std::string& path = output.invocation->trace_path;
    TraceHeader header{output.invocation->program, bridge_version(), {}};
    for (int i = 1; i < argc; ++i)
        header.arguments.push_back(argv[i]);
    TracedRun run = run_traced(path, header, [&output] { return dispatch_guarded(output); });
    std::string message = "cannot write the trace " + printable(path) + ": " + run.error;
    if (!run.ran)
        return finish_early(output, EXIT_FAILED, message);
    if (!run.error.empty()) {
        say_error(output, message);
        return run.code == EXIT_DONE ? EXIT_FAILED : run.code;
    }
    return run.code;
}

}  // namespace

void print_global_help(std::FILE* out, const char* program) {
    std::fprintf(out,
                 "Usage: %s [--json] [--trace FILE] COMMAND [ARGUMENTS]\n"
                 "       %s --help | --version | help COMMAND | COMMAND --help\n"
                 "\n"
                 "The companion of vtx_fwupdate: looks at bridges and update files, and\n"
                 "updates bridges. Only update writes to a bridge; every other command\n"
                 "sends read commands only.\n"
                 "\n"
                 "Commands:\n",
                 program, program);
    for (const CommandHelp& help : COMMAND_HELP)
        std::fprintf(out, "  %s\n", help.usage);
    std::fprintf(out,
                 "\n"
                 "Options:\n"
                 "  --json     one JSON document on standard output (docs/vtx_bridge.md)\n"
                 "  --help     this text; COMMAND --help for one command\n"
                 "  --version  the program's version\n"
                 "  --trace FILE  every command sent to a device, one line each, in FILE\n"
                 "             (docs/trace.md)\n"
                 "\n"
                 "Exit codes: 0 done, 1 failure, 2 no bridge found, 64 usage error.\n");
}

int bridge_main(int argc, char** argv, std::FILE* out, std::FILE* err) {
    Invocation invocation;
    invocation.program = program_name_of(argc > 0 ? argv[0] : nullptr);
    Output output{out, err, &invocation};
    std::string error;
    if (parse_invocation(argc, argv, invocation, error) != 0)
        return usage_error(output, error);
    if (invocation.version) {
        std::fprintf(out, "%s %s\n", invocation.program.c_str(), bridge_version());
        return EXIT_DONE;
    }
    if (invocation.command == "help")
        return show_help(output, invocation.operands.empty() ? "" : invocation.operands[0]);
    if (invocation.help)
        return show_help(output, invocation.command);
    if (!invocation.trace_path.empty())
        return dispatch_traced(output, argc, argv);
    return dispatch_guarded(output);
}

}  // namespace vtx::companion
