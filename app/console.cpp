#include "app/console.h"

#include <cstdarg>

namespace vtx {

namespace {

// The status line on the screen, if any: the tool has one thread and one
// console, so one slot is enough.
struct StatusLine {
    std::FILE* stream = nullptr;
    std::size_t width = 0;
};
StatusLine status;

void write_blanks(std::FILE* stream, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        std::fputc(' ', stream);
}

void wipe_status() {
    if (!status.stream)
        return;
    std::fputc('\r', status.stream);
    write_blanks(status.stream, status.width);
    std::fputc('\r', status.stream);
    std::fflush(status.stream);
    status = StatusLine{};
}

}  // namespace

void console_out(const Console& console, const char* format, ...) {
    wipe_status();
    std::fflush(console.err);
    va_list args;
    va_start(args, format);
    std::vfprintf(console.out, format, args);
    va_end(args);
}

void console_err(const Console& console, const char* format, ...) {
    wipe_status();
    std::fflush(console.out);
    va_list args;
    va_start(args, format);
    std::vfprintf(console.err, format, args);
    va_end(args);
}

void console_flush(const Console& console) {
    std::fflush(console.out);
    std::fflush(console.err);
}

void console_status(const Console& console, const std::string& text) {
    if (status.stream && status.stream != console.err)
        wipe_status();
    std::fflush(console.out);
    std::fputc('\r', console.err);
    std::fputs(text.c_str(), console.err);
    // A shorter text than the last one would leave its tail on the screen.
    if (text.size() < status.width) {
        write_blanks(console.err, status.width - text.size());
    } else {
        status.width = text.size();
    }
    std::fflush(console.err);
    status.stream = console.err;
}

void console_status_clear(const Console&) {
    wipe_status();
}

}  // namespace vtx
