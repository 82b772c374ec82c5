// What the fuzz targets share: a reader that hands out the fuzz input piece by
// piece, scratch files for the inputs the tool reads by path, a console that
// prints nowhere, and a simulated bridge whose replies the input can change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/console.h"
#include "sim/sim.h"

namespace vtx::fuzz {

// Hands out the input from its start; once it is used up every read gives
// zeros, so a short input still drives a whole run.
class InputReader {
  public:
    InputReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t byte();
    uint32_t le32();
    // Up to `n` bytes (fewer when the input runs out).
    std::vector<uint8_t> bytes(size_t n);
    // Everything that is left.
    std::vector<uint8_t> rest();
    bool empty() const { return position_ >= size_; }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

// A scratch directory of this process, made once and reused by every input.
const std::string& scratch_dir();
// Writes `bytes` to `name` in the scratch directory and gives its path.
std::string scratch_file(const std::string& name, const std::vector<uint8_t>& bytes);
std::string scratch_file(const std::string& name, const uint8_t* data, size_t size);

// Standard output and error into the null device (to the process's own
// streams with VTX_FUZZ_SHOW set), empty standard input.
const Console& null_console();

// A condition the code under test promises; a broken promise is a finding,
// so it aborts with the reason, like a crash.
[[noreturn]] void broken_promise(const char* what, const char* file, int line);
#define FUZZ_EXPECT(condition)                                           \
    do {                                                                 \
        if (!(condition))                                                \
            ::vtx::fuzz::broken_promise(#condition, __FILE__, __LINE__); \
    } while (0)

// The simulated platform, with every reply open to the input: each command
// first takes one control byte, and by it the command runs as the bridge
// would, or its data-in reply is overwritten in part or whole with input
// bytes, or it ends in CHECK CONDITION (with sense from the input), or the
// platform call fails (general failure, retried by the transport, or another
// error). A used-up input leaves every later command as the bridge answers.
class ReplySim : public sim::SimPlatform {
  public:
    explicit ReplySim(InputReader& input) : input_(input) {}
    bool pass_through(OsHandle handle, ScsiCommand& command) override;
    long replies_changed() const { return changed_; }

  private:
    InputReader& input_;
    long changed_ = 0;
};

// A bridge configuration chosen by four input bytes: chip family and id,
// revision register, identity answering, largest-transfer reply, and the
// drive behind it. The same bytes always give the same bridge.
sim::BridgeConfig bridge_config_from(InputReader& input);

}  // namespace vtx::fuzz
