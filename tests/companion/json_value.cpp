#include "tests/companion/json_value.h"

#include <cstdlib>

namespace vtx::test::json {

namespace {

class Parser {
  public:
    explicit Parser(const std::string& text) : text_(text) {}

    bool document(Value& out, std::string& error) {
        bool ok = value(out, 0);
        blanks();
        if (ok && at_ == text_.size())
            return true;
        error =
            "offset " + std::to_string(at_) + ": " + (error_.empty() ? "trailing text" : error_);
        return false;
    }

  private:
    bool fail(const char* reason) {
        if (error_.empty())
            error_ = reason;
        return false;
    }
    void blanks() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\n' ||
                                      text_[at_] == '\r' || text_[at_] == '\t'))
            ++at_;
    }
    bool literal(const char* word) {
        std::string w = word;
        if (text_.compare(at_, w.size(), w) != 0)
            return fail("bad literal");
        at_ += w.size();
        return true;
    }

    bool value(Value& out, int depth) {
        if (depth > 64)
            return fail("too deep");
        blanks();
        if (at_ >= text_.size())
            return fail("unexpected end");
        char c = text_[at_];
        if (c == '{')
            return object(out, depth);
        if (c == '[')
            return array(out, depth);
        if (c == '"') {
            out.type = Value::Type::kString;
            return string(out.string);
        }
        if (c == 't' || c == 'f') {
            out.type = Value::Type::kBool;
            out.boolean = c == 't';
            return literal(c == 't' ? "true" : "false");
        }
        if (c == 'n')
            return literal("null");
        return number(out);
    }

    bool digits() {
        size_t start = at_;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9')
            ++at_;
        return at_ > start;
    }

    bool number(Value& out) {
        size_t start = at_;
        if (text_[at_] == '-')
            ++at_;
        if (at_ < text_.size() && text_[at_] == '0')
            ++at_;
        else if (!digits())
            return fail("bad number");
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            if (!digits())
                return fail("bad fraction");
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-'))
                ++at_;
            if (!digits())
                return fail("bad exponent");
        }
        out.type = Value::Type::kNumber;
        out.number = text_.substr(start, at_ - start);
        return true;
    }

    bool hex4(unsigned& code) {
        if (at_ + 4 > text_.size())
            return fail("short escape");
        code = 0;
        for (int i = 0; i < 4; ++i) {
            char c = text_[at_++];
            unsigned digit = c >= '0' && c <= '9'   ? unsigned(c - '0')
                             : c >= 'a' && c <= 'f' ? unsigned(c - 'a' + 10)
                             : c >= 'A' && c <= 'F' ? unsigned(c - 'A' + 10)
                                                    : 16;
            if (digit == 16)
                return fail("bad hex digit");
            code = code * 16 + digit;
        }
        return true;
    }

    static void append_utf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xC0 | code >> 6);
            out += char(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += char(0xE0 | code >> 12);
            out += char(0x80 | (code >> 6 & 0x3F));
            out += char(0x80 | (code & 0x3F));
        } else {
            out += char(0xF0 | code >> 18);
            out += char(0x80 | (code >> 12 & 0x3F));
            out += char(0x80 | (code >> 6 & 0x3F));
            out += char(0x80 | (code & 0x3F));
        }
    }

    bool unicode_escape(std::string& out) {
        unsigned code = 0;
        if (!hex4(code))
            return false;
        if (code >= 0xD800 && code <= 0xDBFF) {
            unsigned low = 0;
            if (text_.compare(at_, 2, "\\u") != 0 || (at_ += 2, !hex4(low)) || low < 0xDC00 ||
                low > 0xDFFF)
                return fail("lone high surrogate");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
            return fail("lone low surrogate");
        }
        append_utf8(out, code);
        return true;
    }

    bool escape(std::string& out) {
        if (at_ >= text_.size())
            return fail("unexpected end");
        char c = text_[at_++];
        static const char from[] = "\"\\/bfnrt";
        static const char to[] = "\"\\/\b\f\n\r\t";
        for (int i = 0; from[i]; ++i) {
            if (c == from[i]) {
                out += to[i];
                return true;
            }
        }
        if (c == 'u')
            return unicode_escape(out);
        return fail("bad escape");
    }

    bool string(std::string& out) {
        ++at_;  // the opening quote
        while (at_ < text_.size()) {
            unsigned char c = static_cast<unsigned char>(text_[at_++]);
            if (c == '"')
                return true;
            if (c < 0x20)
                return fail("raw control character in a string");
            if (c == '\\') {
                if (!escape(out))
                    return false;
            } else {
                out += char(c);
            }
        }
        return fail("unterminated string");
    }

    bool array(Value& out, int depth) {
        out.type = Value::Type::kArray;
        ++at_;
        blanks();
        if (at_ < text_.size() && text_[at_] == ']')
            return ++at_, true;
        for (;;) {
            out.array.emplace_back();
            if (!value(out.array.back(), depth + 1))
                return false;
            blanks();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            if (at_ < text_.size() && text_[at_] == ']')
                return ++at_, true;
            return fail("expected , or ]");
        }
    }

    bool object(Value& out, int depth) {
        out.type = Value::Type::kObject;
        ++at_;
        blanks();
        if (at_ < text_.size() && text_[at_] == '}')
            return ++at_, true;
        for (;;) {
            blanks();
            if (at_ >= text_.size() || text_[at_] != '"')
                return fail("expected a key");
            std::string key;
            if (!string(key))
                return false;
            blanks();
            if (at_ >= text_.size() || text_[at_++] != ':')
                return fail("expected :");
            out.object.emplace_back(key, Value{});
            if (!value(out.object.back().second, depth + 1))
                return false;
            blanks();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            if (at_ < text_.size() && text_[at_] == '}')
                return ++at_, true;
            return fail("expected , or }");
        }
    }

    const std::string& text_;
    size_t at_ = 0;
    std::string error_;
};

const Value& null_value() {
    static const Value none;
    return none;
}

}  // namespace

bool Value::has(const std::string& key) const {
    for (const auto& member : object) {
        if (member.first == key)
            return true;
    }
    return false;
}

const Value& Value::operator[](const std::string& key) const {
    for (const auto& member : object) {
        if (member.first == key)
            return member.second;
    }
    return null_value();
}

const Value& Value::operator[](size_t index) const {
    return index < array.size() ? array[index] : null_value();
}

int64_t Value::i64() const {
    return std::strtoll(number.c_str(), nullptr, 10);
}
uint64_t Value::u64() const {
    return std::strtoull(number.c_str(), nullptr, 10);
}

std::vector<std::string> Value::keys() const {
    std::vector<std::string> names;
    for (const auto& member : object)
        names.push_back(member.first);
    return names;
}

bool parse(const std::string& text, Value& out, std::string& error) {
    out = Value{};
    return Parser(text).document(out, error);
}

}  // namespace vtx::test::json
