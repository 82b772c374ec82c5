// Commands sent straight to the simulated platform, below the device layer.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/sim.h"
#include "vtx/bytes.h"
#include "vtx/records.h"

namespace vtx::test {

struct SimReply {
    bool call_ok = false;
    int error = 0;
    uint8_t status = 0;
    uint8_t sense_key = 0, asc = 0;
    std::vector<uint8_t> data;
};

inline SimReply send(sim::SimPlatform& sim, OsHandle handle, const uint8_t* cdb,
                     std::vector<uint8_t> data, bool data_in) {
    ScsiCommand command;
    for (int i = 0; i < 16; ++i)
        command.cdb[i] = cdb[i];
    command.data = data.empty() ? nullptr : data.data();
    command.length = uint32_t(data.size());
    command.data_in = data_in;
    command.timeout_s = DEV_TIMEOUT;
    SimReply reply;
    reply.call_ok = sim.pass_through(handle, command);
    reply.error = reply.call_ok ? 0 : sim.last_error();
    reply.status = command.scsi_status;
    reply.sense_key = command.sense[2] & 0x0F;
    reply.asc = command.sense[12];
    reply.data = data;
    return reply;
}

inline SimReply vendor_in(sim::SimPlatform& sim, OsHandle handle, uint8_t sub, uint32_t address,
                          uint32_t length, uint8_t parameter = 0) {
    VendorCommand c = vendor_command(OP_VENDOR_READ, sub, address, length, parameter);
    return send(sim, handle, c.cdb, std::vector<uint8_t>(length, 0), true);
}

inline SimReply vendor_out(sim::SimPlatform& sim, OsHandle handle, uint8_t sub, uint32_t address,
                           const std::vector<uint8_t>& data, uint8_t parameter = 0) {
    VendorCommand c =
        vendor_command(OP_VENDOR_WRITE, sub, address, uint32_t(data.size()), parameter);
    return send(sim, handle, c.cdb, data, false);
}

inline SimReply set_address(sim::SimPlatform& sim, OsHandle handle, uint32_t address) {
    std::vector<uint8_t> data(4);
    store_le32(data.data(), address);
    return vendor_out(sim, handle, SUB_SET_FLASH_ADDRESS, address, data);
}

// Set flash address, then flash data write.
inline SimReply write_flash(sim::SimPlatform& sim, OsHandle handle, uint32_t address,
                            const std::vector<uint8_t>& data) {
    SimReply set = set_address(sim, handle, address);
    if (!set.call_ok || set.status)
        return set;
    return vendor_out(sim, handle, SUB_FLASH_DATA_WRITE, 0, data);
}

inline SimReply inquiry(sim::SimPlatform& sim, OsHandle handle) {
    uint8_t cdb[16] = {0x12, 0, 0, 0, 254};
    return send(sim, handle, cdb, std::vector<uint8_t>(254, 0), true);
}

inline uint8_t mode_of(sim::SimPlatform& sim, OsHandle handle) {
    return vendor_in(sim, handle, SUB_RUN_MODE, 0, 1).data[0];
}

}  // namespace vtx::test
