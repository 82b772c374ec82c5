#include "companion/cli.h"

#include "companion/bridge_main.h"
#include "tools/cli/command_line.h"

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

const OperandRule* rule_of(const std::string& command) {
    for (const OperandRule& rule : OPERAND_RULES) {
        if (command == rule.command)
            return &rule;
    }
    return nullptr;
}

// Every option on every command, so options may stand before the command,
// among its operands and after them; those of one command are refused on
// the others afterwards.
void add_options(CLI::App& app, Invocation& invocation, std::vector<std::string>& words) {
    cli::configure(app);
    app.add_flag("--json", invocation.json);
    app.add_flag("-h,--help", invocation.help);
    app.add_flag("--version", invocation.version);
    app.add_option("--trace", invocation.trace_path);
    app.add_option("--raw", invocation.raw_path);
    app.add_option("--type", invocation.type);
    app.add_flag("--strict", invocation.strict);
    app.add_option("--path", invocation.path);
    app.add_flag("--all", invocation.all);
    app.add_option("words", words);  // the command, then its operands
}

// Options that belong to one command only are refused elsewhere, so a typo
// never passes silently.
int check_options(const Invocation& invocation, std::string& error) {
    const std::string& command = invocation.command;
    const struct {
        bool given;
        const char* option;
        const char* owner;
    } owned[] = {
        {!invocation.raw_path.empty(), "--raw", "params"},
        {!invocation.type.empty(), "--type", "check"},
        {invocation.strict, "--strict", "check"},
        {!invocation.path.empty(), "--path", "update"},
        {invocation.all, "--all", "update"},
    };
    for (const auto& o : owned) {
        if (o.given && command != o.owner) {
            error = std::string(o.option) + " belongs to the " + o.owner + " command";
            return EXIT_USAGE;
        }
    }
    if (!invocation.path.empty() && invocation.all) {
        error = "--path and --all exclude each other";
        return EXIT_USAGE;
    }
    return 0;
}

int check_operands(const Invocation& invocation, std::string& error) {
    const OperandRule* rule = rule_of(invocation.command);
    size_t n = invocation.operands.size();
    if (n < rule->least) {
        error = invocation.command + " needs " +
                (rule->least == 1 ? std::string("a file") : "two files");
        return EXIT_USAGE;
    }
    if (n > rule->most) {
        error =
            "too many arguments for " + invocation.command + ": " + invocation.operands[rule->most];
        return EXIT_USAGE;
    }
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
    for (int i = 1; i < argc && std::string(argv[i]) != "--"; ++i)
        invocation.json = invocation.json || std::string(argv[i]) == "--json";
    CLI::App app;
    std::vector<std::string> words, rest;
    add_options(app, invocation, words);
    bool parsed = cli::parse(app, argc, argv, rest, error);
    if (!parsed)
        words = app.get_option("words")->results();  // what was read before the fault
    if (!words.empty() && rule_of(words[0]) == nullptr) {
        error = parsed ? "unknown command " + words[0] : error;
        return EXIT_USAGE;
    }
    if (!words.empty()) {
        invocation.command = words[0];
        invocation.operands.assign(words.begin() + 1, words.end());
    }
    if (!parsed)
        return EXIT_USAGE;
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
