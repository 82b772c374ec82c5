#include "tools/cli/command_line.h"

#include <exception>
#include <set>

namespace vtx::cli {

namespace {

bool is_option_word(const std::string& word) {
    return word.size() > 1 && word[0] == '-';
}

// CLI11 takes the word after an option as its value, whatever it is; an
// option word in that place means the value was left out. It words a flag
// with a value and an option given twice in its own terms; these say it plainly.
bool values_in_place(CLI::App& app, int argc, char** argv, std::string& error) {
    std::set<const CLI::Option*> seen;
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        if (word == "--")
            return true;
        if (!is_option_word(word)) {
            if (app.get_prefix_command())
                return true;  // the rest belongs to another program
            continue;
        }
        std::string name = word.substr(0, word.find('='));
        const CLI::Option* option = app.get_option_no_throw(name);
        if (option == nullptr)
            continue;  // unknown: refused below, or another program's
        if (option->get_items_expected_max() == 0) {
            if (name == word)
                continue;
            error = name + " takes no value";
            return false;
        }
        if (!seen.insert(option).second) {
            error = name + " is given twice";
            return false;
        }
        if (name != word)
            continue;
        if (i + 1 >= argc || is_option_word(argv[i + 1])) {
            error = word + " needs a value";
            return false;
        }
        ++i;
    }
    return true;
}

// An unknown option among what CLI11 left over, or a word no positional took;
// "" when there is none. With prefix_command all of them belong to another
// program.
std::string stray_word(const CLI::App& app) {
    if (app.get_prefix_command())
        return "";
    for (const std::string& word : app.remaining()) {
        if (word != "--")
            return (is_option_word(word) ? "unknown option " : "unexpected argument ") + word;
    }
    return "";
}

}  // namespace

void configure(CLI::App& app) {
    app.set_help_flag();
    app.allow_windows_style_options(false);
    app.allow_extras();
    app.option_defaults()->disable_flag_override();
}

bool parse(CLI::App& app, int argc, char** argv, std::vector<std::string>& rest,
           std::string& error) {
    // CLI11 reads the words from the back of the list.
    std::vector<std::string> words;
    for (int i = argc - 1; i > 0; --i)
        words.emplace_back(argv[i]);
    std::string refused;
    try {
        app.parse(words);
    } catch (const CLI::ParseError& e) {
        refused = e.what();
    } catch (const std::exception& e) {
        refused = e.what();
    }
    // The plainer reasons first: a value left out, then an unknown option,
    // which explains a missing operand better than the other way round.
    if (!values_in_place(app, argc, argv, error))
        return false;
    error = stray_word(app);
    if (error.empty())
        error = refused;
    if (!error.empty())
        return false;
    if (app.get_prefix_command())
        rest = app.remaining();
    return true;
}

}  // namespace vtx::cli
