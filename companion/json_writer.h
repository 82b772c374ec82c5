// The companion's machine-readable output: one document built value by value,
// keys in the order the caller writes them, two-space indentation, written by
// nlohmann-json. Strings are byte strings from devices and files: valid UTF-8
// passes through, control characters and every byte that is not part of valid
// UTF-8 are written as the code point of the same value (\u00XX), so the
// document is always valid JSON and no byte is lost.
#pragma once

#include <cstdint>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace vtx::companion {

class JsonWriter {
  public:
    JsonWriter();
    ~JsonWriter();
    JsonWriter(const JsonWriter&) = delete;
    JsonWriter& operator=(const JsonWriter&) = delete;

    void begin_object();
    void end_object();
    void begin_array();
    void end_array();
    // The key of the next value; only inside an object. A key written twice
    // keeps its first place and takes the later value.
    void key(std::string_view name);

    void string(std::string_view bytes);
    void number(int64_t value);
    void unsigned_number(uint64_t value);
    void boolean(bool value);
    void null();

    // key + value in one call.
    template <typename Value>
    void field(std::string_view name, const Value& value) {
        key(name);
        put(value);
    }

    // key + value, or key + null when there is no value.
    template <typename Value>
    void field_or_null(std::string_view name, bool present, const Value& value) {
        key(name);
        if (present)
            put(value);
        else
            null();
    }

    // The document, with a line end after the outermost value; empty while
    // a container is still open. Throws what the library throws (memory);
    // commands catch it at their boundary.
    std::string text() const;

  private:
    void put(std::string_view bytes) { string(bytes); }
    void put(const char* text) { string(text); }
    void put(const std::string& bytes) { string(bytes); }
    void put(bool value) { boolean(value); }
    void put(int value) { number(value); }
    void put(int64_t value) { number(value); }
    void put(uint32_t value) { unsigned_number(value); }
    void put(uint64_t value) { unsigned_number(value); }

    // Places `value` where the next value goes; a container stays open.
    void add(nlohmann::ordered_json value, bool open);
    void close();

    // The library's full header stays in the writer's own file: every
    // command's file includes this one.
    std::unique_ptr<nlohmann::ordered_json> root_;
    std::vector<nlohmann::ordered_json*> open_;
    std::string key_;
    bool has_key_ = false;
    bool done_ = false;
};

}  // namespace vtx::companion
