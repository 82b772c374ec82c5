// What both bad-input tables share: a damage to the update's files (made in a
// child) or to the bridge, the whole tool's run over it with its checks, and
// the table row that run prints.
#pragma once

#include <functional>
#include <string>

#include "tests/fault/campaign.h"
#include "tools/imagemaker/image_builder.h"

namespace vtx::test::fault {

constexpr uint32_t CHIP_ID = 0xA0020001;
constexpr uint32_t CHIP_REV = 10;

using FileDamage = std::function<bool(const UpdateSet&)>;  // runs in a child
using BridgeDamage = std::function<void(sim::SimPlatform&)>;

struct BadInput {
    const char* input;
    const char* damage;
    FileDamage files;
    BridgeDamage bridge;
    int code;
    std::string text;     // in standard output or error
    bool writes = false;  // the run reaches the bridge's flash
    std::string also;     // a second text on standard error, when there is one
    bool sparse = false;  // the file system may refuse the damaged file
};

// A damaged file the tool refuses with exit code 1 and `text` before it
// writes anything.
BadInput refused(const char* input, const char* damage, FileDamage files, std::string text,
                 std::string also = "");
// A bridge that misbehaves: the run ends with `code` and `text`, and reaches
// the flash when `writes`.
BadInput misbehaving(const char* damage, BridgeDamage bridge, int code, std::string text,
                     bool writes);

// The firmware image the sample update installs on the sample chip.
imagemaker::ImageRecipe firmware();
// The tool's message for an update that ended with `code`.
std::string failed(int code);
FileDamage text_file(std::string UpdateSet::*path, std::string text);
FileDamage missing(std::string UpdateSet::*path);
BridgeDamage with_config(std::function<void(sim::BridgeConfig&)> change);

// Runs the whole tool over the damage and checks how it ends: exit code and
// message; no vendor write and no new header block when it must not write,
// the new parameter area after a run that succeeds. Gives the printed table
// row, or "" when the file system refused a sparse file.
std::string run_bad_input(const BadInput& c);

}  // namespace vtx::test::fault
