#include "companion/cli.h"

#include <cstring>

#include "companion/bridge_main.h"

namespace vtx::companion {

namespace {

struct OperandRule {
    const char* command;
    size_t least;
    size_t most;
};

constexpr OperandRule OPERAND_RULES[] = {
    {"list", 0, 0},        {"info", 0, 1},          {"params", 0, 1}, {"check", 1, 10000},
    {"pack-params", 2, 2}, {"save-firmware", 0, 2}, {"update", 2, 4}, {"help", 0, 1},
};

bool known_command(const std::string& name) {
    for (const OperandRule& rule : OPERAND_RULES) {
        if (name == rule.command)
            return true;
    }
    return false;
}

// "--name VALUE" or "--name=VALUE". 1 when taken, 0 when argv[i] is not this
// option, -1 when the value is missing.
int take_value(int argc, char** argv, int& i, const char* name, std::string& value) {
    size_t length = std::strlen(name);
    if (std::strncmp(argv[i], name, length) != 0)
        return 0;
    if (argv[i][length] == '=') {
        value = argv[i] + length + 1;
        return 1;
    }
    if (argv[i][length] != '\0')
        return 0;
    // An option in the value's place means the value was left out; a file
    // whose name starts with "-" is given as --name=FILE.
    if (i + 1 >= argc || (argv[i + 1][0] == '-' && argv[i + 1][1] != '\0'))
        return -1;
    value = argv[++i];
    return 1;
}

bool take_flag(const std::string& arg, Invocation& invocation) {
    if (arg == "--json")
        invocation.json = true;
    else if (arg == "--help" || arg == "-h")
        invocation.help = true;
    else if (arg == "--version")
        invocation.version = true;
    else if (arg == "--strict")
        invocation.strict = true;
    else if (arg == "--all")
        invocation.all = true;
    else
        return false;
    return true;
}

// Options that belong to one command only are refused elsewhere, so a typo
// never passes silently.
int check_options(const Invocation& invocation, std::string& error) {
    const std::string& command = invocation.command;
    if (!invocation.raw_path.empty() && command != "params") {
        error = "--raw belongs to the params command";
        return EXIT_USAGE;
    }
    if ((!invocation.type.empty() || invocation.strict) && command != "check") {
        error = std::string(invocation.strict ? "--strict" : "--type") +
                " belongs to the check command";
        return EXIT_USAGE;
    }
    if ((!invocation.path.empty() || invocation.all) && command != "update") {
        error = std::string(invocation.all ? "--all" : "--path") + " belongs to the update command";
        return EXIT_USAGE;
    }
    if (!invocation.path.empty() && invocation.all) {
        error = "--path and --all exclude each other";
        return EXIT_USAGE;
    }
    return 0;
}

int check_operands(const Invocation& invocation, std::string& error) {
    for (const OperandRule& rule : OPERAND_RULES) {
        if (invocation.command != rule.command)
            continue;
        size_t n = invocation.operands.size();
        if (n < rule.least) {
            error = invocation.command + " needs " +
                    (rule.least == 1 ? std::string("a file") : "two files");
            return EXIT_USAGE;
        }
        if (n > rule.most) {
            error = "too many arguments for " + invocation.command + ": " +
                    invocation.operands[rule.most];
            return EXIT_USAGE;
        }
    }
    return 0;
}

int take_argument(int argc, char** argv, int& i, Invocation& invocation, std::string& error) {
    std::string arg = argv[i];
    if (take_flag(arg, invocation))
        return 0;
    int taken = take_value(argc, argv, i, "--raw", invocation.raw_path);
    if (taken == 0)
        taken = take_value(argc, argv, i, "--type", invocation.type);
    if (taken == 0)
        taken = take_value(argc, argv, i, "--trace", invocation.trace_path);
    if (taken == 0)
        taken = take_value(argc, argv, i, "--path", invocation.path);
    if (taken < 0) {
        error = arg + " needs a value";
        return EXIT_USAGE;
    }
    if (taken > 0)
        return 0;
    if (arg.size() > 1 && arg[0] == '-') {
        error = "unknown option " + arg;
        return EXIT_USAGE;
    }
    if (invocation.command.empty()) {
        if (!known_command(arg)) {
            error = "unknown command " + arg;
            return EXIT_USAGE;
        }
        invocation.command = arg;
        return 0;
    }
    invocation.operands.push_back(arg);
    return 0;
}

}  // namespace

const std::vector<std::string>& command_names() {
    static const std::vector<std::string> names = {
        "list", "info", "params", "check", "pack-params", "save-firmware", "update"};
    return names;
}

std::string program_name_of(const char* argv0) {
    std::string name = argv0 && *argv0 ? argv0 : "vtx_bridge";
    size_t cut = name.find_last_of("/\\");
    if (cut != std::string::npos)
        name = name.substr(cut + 1);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0)
        name.resize(name.size() - 4);
    return name.empty() ? "vtx_bridge" : name;
}

int parse_invocation(int argc, char** argv, Invocation& invocation, std::string& error) {
    // --json anywhere counts, so a usage error can still answer in JSON.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            break;
        if (std::strcmp(argv[i], "--json") == 0)
            invocation.json = true;
    }
    int i = 1;
    for (; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            ++i;
            break;
        }
        if (int code = take_argument(argc, argv, i, invocation, error); code != 0)
            return code;
    }
    for (; i < argc; ++i) {
        if (invocation.command.empty()) {
            if (!known_command(argv[i])) {
                error = std::string("unknown command ") + argv[i];
                return EXIT_USAGE;
            }
            invocation.command = argv[i];
            continue;
        }
        invocation.operands.push_back(argv[i]);
    }
    if (invocation.help || invocation.version)
        return 0;
    if (invocation.command.empty()) {
        error = "no command given";
        return EXIT_USAGE;
    }
    if (int code = check_options(invocation, error); code != 0)
        return code;
    return check_operands(invocation, error);
}

}  // namespace vtx::companion
