// A small JSON writer for the companion's machine-readable output: one
// document, keys in the order the caller writes them, two-space indentation.
// Strings are byte strings from devices and files: valid UTF-8 passes through,
// every other byte above 127 is written as the code point of the same value
// (\u00XX), so the document is always valid JSON.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vtx::companion {

// The JSON string literal of `bytes`, quotes included.
std::string json_quote(std::string_view bytes);

class JsonWriter {
  public:
    void begin_object();
    void end_object();
    void begin_array();
    void end_array();
    // The key of the next value; only inside an object.
    void key(std::string_view name);

    void string(std::string_view bytes);
    void number(int64_t value);
    void unsigned_number(uint64_t value);
    void boolean(bool value);
    void null();

    // key + value in one call.
    void field(std::string_view name, std::string_view bytes) {
        key(name);
        string(bytes);
    }
    void field(std::string_view name, const char* text) {
        key(name);
        string(text);
    }
    void field(std::string_view name, int value) {
        key(name);
        number(value);
    }
    void field(std::string_view name, int64_t value) {
        key(name);
        number(value);
    }
    void field(std::string_view name, uint32_t value) {
        key(name);
        unsigned_number(value);
    }
    void field(std::string_view name, uint64_t value) {
        key(name);
        unsigned_number(value);
    }
    void field(std::string_view name, bool value) {
        key(name);
        boolean(value);
    }

    // The document so far, with a line end after the outermost value.
    const std::string& text() const { return text_; }

  private:
    struct Frame {
        bool object;
        int count;
    };
    void begin_value();
    void open(char bracket, bool object);
    void close(char bracket);
    void indent();

    std::string text_;
    std::vector<Frame> frames_;
    bool after_key_ = false;
};

}  // namespace vtx::companion
