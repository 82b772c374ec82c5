// What the front end's tests share: a run of a front-end step with captured
// streams, and the texts it prints.
#pragma once

#include <string>
#include <vector>

#include "app/console.h"
#include "tests/support/support.h"

namespace vtx::test {

// Standard output, standard error and an empty standard input, captured.
struct CapturedConsole {
    CapturedStream out;
    CapturedStream err;
    InputStream in{""};
    Console console() const { return Console{out.get(), err.get(), in.get()}; }
};

// The usage text for program name `name`.
inline std::string usage_text(const std::string& name) {
    return "Usage: " + name +
           " [<bin> <rescuebin> <cfg> [led]]\n"
           "\n"
           "  Reads config.ini from the executable directory by default.\n"
           "  Command-line arguments override config.ini:\n"
           "    bin        Firmware binary path\n"
           "    rescuebin  Rescue firmware binary path\n"
           "    cfg        Configuration file path\n"
           "    led        LED binary path (optional)\n";
}

// A text file as written in text mode, with Windows line ends made plain.
inline std::string without_carriage_returns(std::string text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        plain += text[i];
    }
    return plain;
}

// The separator the native layer joins paths with.
#ifdef _WIN32
constexpr char NATIVE_SEPARATOR = '\\';
#else
constexpr char NATIVE_SEPARATOR = '/';
#endif

}  // namespace vtx::test
