// The three standard streams of a run. Only the front end prints, and it
// prints through these, so a test can hand in files of its own.
#pragma once

#include <cstdio>
#include <string>

namespace vtx {

struct Console {
    std::FILE* out;  // [INFO] lines
    std::FILE* err;  // [ERROR] lines, most warnings, the usage text
    std::FILE* in;   // the key that ends a run
};

// When standard output and standard error share one terminal or one file,
// each writer first flushes the other stream, so the lines come out in the
// order the code wrote them. A status line on the screen is wiped first.
void console_out(const Console& console, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
void console_err(const Console& console, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
// Both streams, before the process hands the terminal to anybody else.
void console_flush(const Console& console);

// A status line on standard error, redrawn in place: a carriage return, the
// text, and blanks over whatever the previous text left. It is not a message:
// the next message (or console_status_clear) wipes it before it prints, so
// no message ever starts in the middle of it. Only for a terminal.
void console_status(const Console& console, const std::string& text);
void console_status_clear(const Console& console);

}  // namespace vtx
