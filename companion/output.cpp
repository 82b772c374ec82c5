#include "companion/output.h"

#include <cstdarg>

#include "companion/bridge_main.h"

#ifndef VTX_BRIDGE_VERSION
#define VTX_BRIDGE_VERSION "0.0.0"
#endif

namespace vtx::companion {

void say_error(const Output& output, const std::string& message) {
    if (output.json())
        return;
    std::fprintf(output.err, "%s: %s\n", output.invocation->program.c_str(), message.c_str());
}

void say(const Output& output, const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::vfprintf(output.out, format, arguments);
    va_end(arguments);
}

const char* bridge_version() {
    return VTX_BRIDGE_VERSION;
}

const char* status_name(int code) {
    switch (code) {
        case EXIT_DONE:
            return "ok";
        case EXIT_NONE_FOUND:
            return "not-found";
        case EXIT_USAGE:
            return "usage";
        default:
            return "failure";
    }
}

void json_begin(JsonWriter& json, const Output& output) {
    json.begin_object();
    json.field("schema", JSON_SCHEMA);
    json.field("program", "vtx_bridge");
    json.field("version", bridge_version());
    json.field_or_null("command", !output.invocation->command.empty(), output.invocation->command);
}

int json_end(JsonWriter& json, const Output& output, int code, const std::string& message) {
    json.field("status", status_name(code));
    json.field("exit_code", code);
    if (code != EXIT_DONE)
        json.field("message", message);
    json.end_object();
    std::string text = json.text();
    std::fwrite(text.data(), 1, text.size(), output.out);
    return code;
}

int finish_early(const Output& output, int code, const std::string& message) {
    if (!output.json()) {
        say_error(output, message);
        return code;
    }
    JsonWriter json;
    json_begin(json, output);
    return json_end(json, output, code, message);
}

}  // namespace vtx::companion
