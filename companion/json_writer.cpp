#include "companion/json_writer.h"

#include <cstdio>

namespace vtx::companion {

namespace {

void append_escape(std::string& out, unsigned code) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\u%04X", code);
    out += buffer;
}

bool continuation(const unsigned char* p, size_t n, size_t i) {
    return i < n && (p[i] & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 sequence at p[i], or 0: overlong forms,
// surrogates and code points above U+10FFFF are not well-formed.
size_t utf8_sequence(const unsigned char* p, size_t n, size_t i) {
    unsigned char lead = p[i];
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (i + 1 >= n || p[i + 1] < low || p[i + 1] > high)
        return 0;
    for (size_t k = 2; k < length; ++k) {
        if (!continuation(p, n, i + k))
            return 0;
    }
    return length;
}

}  // namespace

std::string json_quote(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    std::string out = "\"";
    for (size_t i = 0; i < n;) {
        unsigned char c = p[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            append_escape(out, c);
            ++i;
        } else if (c < 0x80) {
            out += char(c);
            ++i;
        } else if (size_t length = utf8_sequence(p, n, i); length > 0) {
            out.append(bytes.data() + i, length);
            i += length;
        } else {
            append_escape(out, c);
            ++i;
        }
    }
    out += '"';
    return out;
}

void JsonWriter::indent() {
    text_ += '\n';
    text_.append(2 * frames_.size(), ' ');
}

void JsonWriter::begin_value() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (frames_.empty())
        return;
    Frame& frame = frames_.back();
    if (frame.count++ > 0)
        text_ += ',';
    indent();
}

void JsonWriter::open(char bracket, bool object) {
    begin_value();
    text_ += bracket;
    frames_.push_back({object, 0});
}

void JsonWriter::close(char bracket) {
    if (frames_.empty())
        return;
    bool had_members = frames_.back().count > 0;
    frames_.pop_back();
    if (had_members)
        indent();
    text_ += bracket;
    if (frames_.empty())
        text_ += '\n';
}

void JsonWriter::begin_object() {
    open('{', true);
}
void JsonWriter::end_object() {
    close('}');
}
void JsonWriter::begin_array() {
    open('[', false);
}
void JsonWriter::end_array() {
    close(']');
}

void JsonWriter::key(std::string_view name) {
    if (frames_.empty() || !frames_.back().object)
        return;
    Frame& frame = frames_.back();
    if (frame.count++ > 0)
        text_ += ',';
    indent();
    text_ += json_quote(name);
    text_ += ": ";
    after_key_ = true;
}

void JsonWriter::string(std::string_view bytes) {
    begin_value();
    text_ += json_quote(bytes);
}

void JsonWriter::number(int64_t value) {
    begin_value();
    text_ += std::to_string(value);
}

void JsonWriter::unsigned_number(uint64_t value) {
    begin_value();
    text_ += std::to_string(value);
}

void JsonWriter::boolean(bool value) {
    begin_value();
    text_ += value ? "true" : "false";
}

void JsonWriter::null() {
    begin_value();
    text_ += "null";
}

}  // namespace vtx::companion
