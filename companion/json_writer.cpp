#include "companion/json_writer.h"

#include <nlohmann/json.hpp>

namespace vtx::companion {

namespace {

using Json = nlohmann::ordered_json;

// nlohmann-json writes short escapes (\n) and lower-case hex, and refuses
// bytes that are not UTF-8. So before a string reaches it, every byte that is
// written as \u00XX becomes this noncharacter followed by the byte's two hex
// digits; the noncharacter itself, should a device send it, is followed by
// "--". After the library has written the document, the marks become the
// escapes.
constexpr std::string_view MARK = "\xEF\xB7\x90";  // U+FDD0
constexpr std::string_view MARK_ITSELF = "--";

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
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
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

void append_marked(std::string& out, unsigned char c) {
    static constexpr char HEX[] = "0123456789ABCDEF";
    out += MARK;
    out += HEX[c >> 4];
    out += HEX[c & 0x0F];
}

// `bytes` as valid UTF-8, with the bytes to escape marked.
std::string marked(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n;) {
        unsigned char c = p[i];
        size_t length = c < 0x80 ? 1 : utf8_sequence(p, n, i);
        if (c < 0x20 || c == 0x7F || length == 0) {
            append_marked(out, c);
            i += 1;
        } else if (bytes.substr(i, length) == MARK) {
            out += MARK;
            out += MARK_ITSELF;
            i += length;
        } else {
            out.append(bytes.substr(i, length));
            i += length;
        }
    }
    return out;
}

// The library's text with every mark turned into what it stands for.
std::string unmarked(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    size_t from = 0;
    for (size_t at = text.find(MARK); at != std::string::npos; at = text.find(MARK, from)) {
        out.append(text, from, at - from);
        std::string_view code = std::string_view(text).substr(at + MARK.size(), 2);
        if (code == MARK_ITSELF) {
            out += MARK;
        } else {
            out += "\\u00";
            out += code;
        }
        from = at + MARK.size() + code.size();
    }
    out.append(text, from);
    return out;
}

}  // namespace

JsonWriter::JsonWriter() : root_(std::make_unique<Json>()) {}
JsonWriter::~JsonWriter() = default;

void JsonWriter::add(Json value, bool open) {
    Json* placed = nullptr;
    if (open_.empty()) {
        if (done_)
            return;  // one document only
        *root_ = std::move(value);
        placed = root_.get();
        done_ = !open;
    } else if (open_.back()->is_object()) {
        if (!has_key_)
            return;
        placed = &((*open_.back())[key_] = std::move(value));
        has_key_ = false;
    } else {
        open_.back()->push_back(std::move(value));
        placed = &open_.back()->back();
    }
    if (open)
        open_.push_back(placed);
}

void JsonWriter::close() {
    if (open_.empty())
        return;
    open_.pop_back();
    done_ = open_.empty();
}

void JsonWriter::begin_object() {
    add(Json::object(), true);
}
void JsonWriter::end_object() {
    close();
}
void JsonWriter::begin_array() {
    add(Json::array(), true);
}
void JsonWriter::end_array() {
    close();
}

void JsonWriter::key(std::string_view name) {
    if (open_.empty() || !open_.back()->is_object())
        return;
    key_ = marked(name);
    has_key_ = true;
}

void JsonWriter::string(std::string_view bytes) {
    add(marked(bytes), false);
}
void JsonWriter::number(int64_t value) {
    add(value, false);
}
void JsonWriter::unsigned_number(uint64_t value) {
    add(value, false);
}
void JsonWriter::boolean(bool value) {
    add(value, false);
}
void JsonWriter::null() {
    add(nullptr, false);
}

std::string JsonWriter::text() const {
    if (!done_)
        return "";
    return unmarked(root_->dump(2)) + "\n";
}

}  // namespace vtx::companion
