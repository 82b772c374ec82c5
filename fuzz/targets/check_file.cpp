// vtx_bridge check over a file of any content: whatever the bytes, the check
// ends with a verdict (exit code 0 or 1), its JSON is a document, and its text
// report carries no terminal escape, since a report quotes what a file holds.
//
// Input: one byte of choices (its value modulo 7 picks the kind --type
// names, 0 for none, so the kind comes from the content; bit 7: the JSON
// report), then the file.
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "companion/bridge_main.h"
#include "device/platform/platform.h"
#include "fuzz/fuzz_support.h"

namespace {

const char* const KINDS[] = {"", "firmware", "rescue", "image", "led", "params", "area"};

// What the program wrote to a scratch stream.
std::string text_of(std::FILE* stream) {
    std::string text;
    std::rewind(stream);
    char piece[4096];
    for (size_t n; (n = std::fread(piece, 1, sizeof piece, stream)) > 0;)
        text.append(piece, n);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vtx::fuzz::InputReader input(data, size);
    const uint8_t choices = input.byte();
    const std::string path = vtx::fuzz::scratch_file("check.bin", input.rest());
    const std::string kind = KINDS[(choices & 0x7F) % 7];
    const bool json = (choices & 0x80) != 0;

    std::vector<std::string> words = {"vtx_bridge", "check"};
    if (json)
        words.push_back("--json");
    if (!kind.empty())
        words.insert(words.end(), {"--type", kind});
    words.push_back(path);
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    // An offline check asks no device: an empty simulated computer stands by.
    vtx::sim::SimPlatform sim;
    vtx::platform_install(&sim);
    std::FILE* out = std::fopen((vtx::fuzz::scratch_dir() + "/check.out").c_str(), "w+b");
    std::FILE* err = std::fopen((vtx::fuzz::scratch_dir() + "/check.err").c_str(), "w+b");
    FUZZ_EXPECT(out != nullptr && err != nullptr);
    const int code = vtx::companion::bridge_main(int(words.size()), argv.data(), out, err);
    vtx::platform_install(nullptr);
    const std::string report = text_of(out);
    std::fclose(out);
    std::fclose(err);

    FUZZ_EXPECT(code == vtx::companion::EXIT_DONE || code == vtx::companion::EXIT_FAILED);
    if (json)
        FUZZ_EXPECT(nlohmann::json::accept(report));
    else
        FUZZ_EXPECT(report.find('\x1B') == std::string::npos);
    return 0;
}
