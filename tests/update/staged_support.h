// Shared ground of the update engine's tests: one simulated bridge, its
// image files in a temporary directory, faults, and ways to find commands in
// the trace.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/transport.h"
#include "tests/support/support.h"
#include "tools/imagemaker/image_builder.h"
#include "update/progress.h"
#include "vtx/bytes.h"
#include "vtx/testing/buffer_hooks.h"

namespace vtx::test {

namespace im = imagemaker;
using Writes = std::vector<std::pair<uint32_t, uint32_t>>;

inline const std::string BRIDGE_PATH = "\\\\.\\PhysicalDrive1";
constexpr uint32_t HB = HEADER_BLOCK_ADDRESS;

class StagedTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fw_reset_progress();
        buffer_fail_allocation(0);
    }
    void TearDown() override {
        close();
        fw_set_progress_observer(nullptr);
        buffer_fail_allocation(0);
    }

    sim::SimPlatform& sim() { return installed->sim(); }
    // A new simulated platform, with no devices and an empty trace, for the
    // next case of a table.
    void fresh() {
        close();
        installed.reset();
        installed.emplace();
        fw_reset_progress();
    }
    void close() {
        if (handle)
            dev_close(handle);
        handle = nullptr;
    }
    sim::Bridge& add_bridge(const sim::BridgeConfig& config = {}) {
        return sim().add_bridge(config);
    }
    DeviceHandle* open(const std::string& path = BRIDGE_PATH) {
        handle = dev_open(path.c_str());
        return handle;
    }
    // A fresh platform with one bridge, opened, and an empty trace.
    sim::Bridge& opened_bridge(const sim::BridgeConfig& config = {}) {
        fresh();
        sim::Bridge& bridge = add_bridge(config);
        open();
        sim().clear_trace();
        return bridge;
    }
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
        return dir.write(name, bytes);
    }
    // Every step of done bytes the progress observer saw.
    std::vector<int32_t>& watch_progress() {
        progress.clear();
        fw_set_progress_observer([this](int32_t done, int32_t) { progress.push_back(done); });
        return progress;
    }
    // Commands that change flash or restart the bridge.
    size_t write_commands() { return commands(sim(), OP_VENDOR_WRITE).size(); }
    // Addresses of the memory reads in the trace, in order.
    std::vector<uint32_t> memory_reads() {
        std::vector<uint32_t> addresses;
        for (const auto& entry : commands(sim(), OP_VENDOR_READ, SUB_MEMORY_READ))
            addresses.push_back(load_le32(entry.cdb + 8));
        return addresses;
    }

    std::optional<SimInstalled> installed{std::in_place};
    TempDir dir;
    DeviceHandle* handle = nullptr;
    std::vector<int32_t> progress;
};

// The data-write commands of the trace as {address, length}, compared whole.
inline Writes write_list(const sim::SimPlatform& sim) {
    Writes list;
    for (const FlashWrite& write : flash_writes(sim))
        list.emplace_back(write.address, write.length);
    return list;
}

inline bool is_vendor(const sim::TraceEntry& entry, uint8_t opcode, uint8_t sub_command) {
    return entry.cdb[0] == opcode && entry.cdb[4] == sub_command;
}

inline uint32_t address_of(const sim::TraceEntry& entry) {
    return load_le32(entry.cdb + 8);
}

// Global index of the n-th command (from 0) that matches, or -1. The trace of
// a platform that was never cleared starts at global index 0.
inline long nth_command(const sim::SimPlatform& sim,
                        const std::function<bool(const sim::TraceEntry&)>& match, int n,
                        long from = 0) {
    const auto& trace = sim.trace();
    for (size_t i = size_t(from); i < trace.size(); ++i) {
        if (match(trace[i]) && n-- == 0)
            return long(i);
    }
    return -1;
}

// How many commands before global index `end` match.
inline long count_before(const sim::SimPlatform& sim,
                         const std::function<bool(const sim::TraceEntry&)>& match, long end) {
    long count = 0;
    for (long i = 0; i < end && i < long(sim.trace().size()); ++i)
        count += match(sim.trace()[i]);
    return count;
}

}  // namespace vtx::test
