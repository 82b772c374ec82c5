// Where a command's results go: text for people on the two streams, or one
// JSON document on standard output.
#pragma once

#include <cstdio>
#include <string>

#include "companion/cli.h"
#include "companion/json_writer.h"

namespace vtx::companion {

struct Output {
    std::FILE* out;
    std::FILE* err;
    const Invocation* invocation;

    bool json() const { return invocation->json; }
};

// "program: message" on standard error; nothing in JSON mode, where the
// message goes into the document instead.
void say_error(const Output& output, const std::string& message);
// Text-mode lines on standard output.
void say(const Output& output, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The first keys of every document: schema, program, version, command.
void json_begin(JsonWriter& json, const Output& output);
// The last keys: status, exit_code and, unless the status is "ok", message.
// Closes the document, writes it to standard output and returns `code`.
int json_end(JsonWriter& json, const Output& output, int code, const std::string& message);

// The program's version, as --version prints it.
const char* bridge_version();

// A command that ends without results: the message on standard error, or a
// document that holds only the common keys. Returns `code`.
int finish_early(const Output& output, int code, const std::string& message);

// "ok", "failure", "not-found" or "usage" for an exit code.
const char* status_name(int code);

}  // namespace vtx::companion
