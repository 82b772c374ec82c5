#include "tests/companion/json_value.h"

#include <cstdlib>

namespace vtx::test::json {

namespace {

// Recursive descent over RFC 8259; the first failure is the one reported.
class Parser {
  public:
    explicit Parser(const std::string& text) : text_(text) {}

    bool document(Value& out, std::string& error) {
        if (value(out) && (blanks(), at_ == text_.size()))
            return true;
        error = "offset " + std::to_string(at_) + ": " + (why_ ? why_ : "trailing text");
        return false;
    }

  private:
    bool fail(const char* why) {
        why_ = why_ != nullptr ? why_ : why;
        return false;
    }
    // '\0' at the end; a NUL inside the text is refused wherever it stands.
    char peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }
    bool take(char c) { return at_ < text_.size() && text_[at_] == c ? (++at_, true) : false; }
    void blanks() {
        while (peek() == ' ' || peek() == '\n' || peek() == '\r' || peek() == '\t')
            ++at_;
    }
    bool digits() {
        size_t from = at_;
        while (peek() >= '0' && peek() <= '9')
            ++at_;
        return at_ > from;
    }
    bool literal(const std::string& word) {
        if (text_.compare(at_, word.size(), word) != 0)
            return fail("bad literal");
        at_ += word.size();
        return true;
    }

    bool value(Value& out) {
        blanks();
        char c = peek();
        if (c == '{' || c == '[')
            return members(out, c == '{' ? '}' : ']');
        if (c == '"') {
            out.type = Value::Type::kString;
            return string(out.string);
        }
        if (c == 'n')
            return literal("null");
        if (c != 't' && c != 'f')
            return number(out);
        out.type = Value::Type::kBool;
        out.boolean = c == 't';
        return literal(out.boolean ? "true" : "false");
    }

    bool number(Value& out) {
        size_t from = at_;
        take('-');
        if (!take('0') && !digits())
            return fail("bad number");
        if (take('.') && !digits())
            return fail("bad fraction");
        if (take('e') || take('E')) {
            if (!take('+'))
                take('-');
            if (!digits())
                return fail("bad exponent");
        }
        out.type = Value::Type::kNumber;
        out.number = text_.substr(from, at_ - from);
        return true;
    }

    bool hex4(unsigned& code) {
        std::string digits = text_.substr(at_, 4);
        if (digits.size() < 4 || digits.find_first_not_of("0123456789abcdefABCDEF") != digits.npos)
            return fail("bad \\u escape");
        code = unsigned(std::strtoul(digits.c_str(), nullptr, 16));
        at_ += 4;
        return true;
    }

    static void append_utf8(std::string& out, unsigned code) {
        static const unsigned lead[] = {0, 0xC0, 0xE0, 0xF0};
        int extra = code < 0x80 ? 0 : code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
        out += char(lead[extra] | code >> (6 * extra));
        for (int shift = 6 * (extra - 1); shift >= 0; shift -= 6)
            out += char(0x80 | (code >> shift & 0x3F));
    }

    bool escape(std::string& out) {
        static const std::string from = "\"\\/bfnrt", to = "\"\\/\b\f\n\r\t";
        char c = peek();
        if (!take(c))
            return fail("unexpected end");
        if (c != 'u') {
            size_t i = from.find(c);
            if (i == from.npos)
                return fail("bad escape");
            out += to[i];
            return true;
        }
        unsigned code = 0;
        if (!hex4(code))
            return false;
        if (code >= 0xDC00 && code <= 0xDFFF)
            return fail("lone low surrogate");
        if (code >= 0xD800 && code <= 0xDBFF) {
            unsigned low = 0;
            if (!take('\\') || !take('u') || !hex4(low) || low < 0xDC00 || low > 0xDFFF)
                return fail("lone high surrogate");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        append_utf8(out, code);
        return true;
    }

    bool string(std::string& out) {
        ++at_;  // the opening quote
        while (at_ < text_.size()) {
            unsigned char c = static_cast<unsigned char>(text_[at_++]);
            if (c == '"')
                return true;
            if (c < 0x20)
                return fail("raw control character in a string");
            if (c != '\\')
                out += char(c);
            else if (!escape(out))
                return false;
        }
        return fail("unterminated string");
    }

    // The members of an array or an object, separated by commas.
    bool members(Value& out, char close) {
        bool object = close == '}';
        out.type = object ? Value::Type::kObject : Value::Type::kArray;
        ++at_;
        blanks();
        if (take(close))
            return true;
        do {
            Value* member = nullptr;
            if (object) {
                blanks();
                out.object.emplace_back();
                if (peek() != '"')
                    return fail("expected a key");
                if (!string(out.object.back().first))
                    return false;
                blanks();
                if (!take(':'))
                    return fail("expected :");
                member = &out.object.back().second;
            } else {
                out.array.emplace_back();
                member = &out.array.back();
            }
            if (!value(*member))
                return false;
            blanks();
        } while (take(','));
        return take(close) || fail(object ? "expected , or }" : "expected , or ]");
    }

    const std::string& text_;
    size_t at_ = 0;
    const char* why_ = nullptr;
};

const Value& null_value() {
    static const Value none;
    return none;
}

}  // namespace

bool Value::has(const std::string& key) const {
    return &(*this)[key] != &null_value();
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
