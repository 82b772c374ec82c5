// Shared helpers of the companion's tests: run vtx_bridge in this process over
// the simulated bridge and read its JSON back as data.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "companion/bridge_main.h"
#include "tests/support/support.h"

namespace vtx::test {

// Documents are read back as data, never matched as text; keys keep their order.
using Json = nlohmann::ordered_json;

struct BridgeRun {
    int code = -1;
    std::string out;
    std::string err;
};

// vtx_bridge with `args` (argument 0 is added), over the installed platform.
BridgeRun run_bridge(const std::vector<std::string>& args);

// The run's standard output as a JSON document; a test failure when it is
// none, or when anything went to standard error beside it. With
// VTX_JSON_DOCUMENTS set, the document is also saved in that directory, where
// a check validates it against the published schema.
Json json_of(const BridgeRun& run);

// Whether the trace holds a write command (opcode 0xE3) of any kind.
bool trace_has_write(const sim::SimPlatform& sim);

// A bridge that runs main firmware `version`, built for its chip, with the
// parameter area `area` (2048 bytes; empty leaves the area erased).
sim::Bridge& add_running_bridge(sim::SimPlatform& sim, const sim::BridgeConfig& config,
                                const FirmwareVersion& version,
                                const std::vector<uint8_t>& area = {});

// The area the update tool programs for parameter-file text.
std::vector<uint8_t> area_of(const TempDir& dir, const std::string& cfg_text);

// The codes of a JSON findings array ("problems" or "warnings").
std::vector<std::string> codes_of(Json findings);

}  // namespace vtx::test
