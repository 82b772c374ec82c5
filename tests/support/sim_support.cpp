#include "tests/support/support.h"

#include "vtx/bytes.h"

namespace vtx::test {

SimInstalled::SimInstalled() {
    platform_install(&sim_);
}

SimInstalled::~SimInstalled() {
    platform_install(nullptr);
}

sim::CommandFault failing(int opcode, int sub_command, long skip, long count, int platform_error) {
    sim::CommandFault fault;
    fault.opcode = opcode;
    fault.sub_command = sub_command;
    fault.skip = skip;
    fault.count = count;
    fault.platform_error = platform_error;
    if (platform_error == 0) {
        fault.scsi_status = 2;
        fault.sense_key = 5;
        fault.asc = 0x24;
    }
    return fault;
}

sim::CommandFault failing_at(long index) {
    sim::CommandFault fault;
    fault.index = index;
    fault.scsi_status = 2;
    return fault;
}

sim::BridgeConfig bridge_of_chip(uint32_t chip_id, uint32_t chip_rev) {
    sim::BridgeConfig config;
    config.chip_id = chip_id;
    config.chip_rev_register = chip_rev << 16;
    if (chip_id < 0xA0020000) {
        config.revision = "2.00";
        config.model = "VTX4500";
    }
    return config;
}

std::vector<sim::TraceEntry> commands(const sim::SimPlatform& sim, int opcode, int sub_command) {
    std::vector<sim::TraceEntry> result;
    for (const auto& entry : sim.trace()) {
        if (entry.cdb[0] != opcode)
            continue;
        if (sub_command >= 0 && entry.cdb[4] != sub_command)
            continue;
        result.push_back(entry);
    }
    return result;
}

std::vector<FlashWrite> flash_writes(const sim::SimPlatform& sim) {
    std::vector<FlashWrite> result;
    uint32_t address = 0;
    for (const auto& entry : sim.trace()) {
        if (entry.cdb[0] != OP_VENDOR_WRITE)
            continue;
        if (entry.cdb[4] == SUB_SET_FLASH_ADDRESS)
            address = load_le32(entry.cdb + 8);
        if (entry.cdb[4] == SUB_FLASH_DATA_WRITE)
            result.push_back({address, entry.length});
    }
    return result;
}

std::string hex(const uint8_t* bytes, size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < n; ++i) {
        if (i)
            text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

}  // namespace vtx::test
