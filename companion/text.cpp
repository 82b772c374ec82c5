#include "companion/text.h"

#include <cstdio>

namespace vtx::companion {

std::string fixed_text(const char* field, size_t size) {
    size_t n = 0;
    while (n < size && field[n] != '\0')
        ++n;
    return std::string(field, n);
}

std::string fixed_text(const uint8_t* field, size_t size) {
    return fixed_text(reinterpret_cast<const char*>(field), size);
}

// Every "\x" in the result begins an escape: a backslash that a literal 'x'
// follows is itself written \x5C; any other backslash stands for itself, so
// device paths such as \\.\PhysicalDrive1 read as they are.
std::string printable(std::string_view bytes) {
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        char c = bytes[i];
        auto byte = static_cast<unsigned char>(c);
        bool before_x = c == '\\' && i + 1 < bytes.size() && bytes[i + 1] == 'x';
        if (byte >= 0x20 && byte < 0x7F && !before_x) {
            out += c;
            continue;
        }
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\x%02X", byte);
        out += escape;
    }
    return out;
}

std::string display_text(std::string_view bytes) {
    auto blank = [](char c) { return c == ' ' || c == '\0'; };
    while (!bytes.empty() && blank(bytes.front()))
        bytes.remove_prefix(1);
    while (!bytes.empty() && blank(bytes.back()))
        bytes.remove_suffix(1);
    return printable(bytes);
}

std::string hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", unsigned(value));
    return text;
}

std::string hex_bytes(const uint8_t* bytes, size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < n; ++i) {
        if (i > 0)
            text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

std::string version_text(const FirmwareVersion& version) {
    return std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
           std::to_string(version.patch);
}

std::string iso_date(uint32_t yyyymmdd) {
    uint32_t year = yyyymmdd / 10000;
    uint32_t month = yyyymmdd / 100 % 100;
    uint32_t day = yyyymmdd % 100;
    if (year < 1000 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31)
        return "";
    char text[16];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u", unsigned(year), unsigned(month),
                  unsigned(day));
    return text;
}

}  // namespace vtx::companion
