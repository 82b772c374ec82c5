// A minimal, strict JSON parser for the companion's tests: the documents
// vtx_bridge writes are read back as data, never matched as text.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vtx::test::json {

struct Value {
    enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };
    Type type = Type::kNull;
    bool boolean = false;
    std::string number;  // the literal as written
    std::string string;  // decoded, as UTF-8
    std::vector<Value> array;
    std::vector<std::pair<std::string, Value>> object;

    bool has(const std::string& key) const;
    // The member or element; a null value when there is none (tests then
    // fail on the comparison that follows).
    const Value& operator[](const std::string& key) const;
    const Value& operator[](size_t index) const;
    size_t size() const { return type == Type::kArray ? array.size() : object.size(); }

    bool is_null() const { return type == Type::kNull; }
    int64_t i64() const;
    uint64_t u64() const;
    // Keys of an object, in document order.
    std::vector<std::string> keys() const;
};

// One whole document, nothing but blanks after it. False with the offset and
// reason in `error` for anything RFC 8259 does not allow.
bool parse(const std::string& text, Value& out, std::string& error);

}  // namespace vtx::test::json
