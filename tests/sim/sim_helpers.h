// Commands sent straight to the simulated platform, below the device layer.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "sim/sim.h"
#include "vtx/bytes.h"
#include "vtx/records.h"

namespace vtx::test {

inline const char* const DRIVE1 = "\\\\.\\PhysicalDrive1";
inline const char* const DRIVE2 = "\\\\.\\PhysicalDrive2";

struct SimReply {
    bool call_ok = false;
    int error = 0;
    uint8_t status = 0, sense_key = 0, asc = 0;
    uint32_t residual = 0;
    std::vector<uint8_t> data;
};

inline SimReply send(sim::SimPlatform& sim, OsHandle handle, const uint8_t* cdb,
                     std::vector<uint8_t> data, bool data_in) {
    ScsiCommand command;
    std::copy_n(cdb, 16, command.cdb);
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
    reply.residual = command.residual;
    reply.data = data;
    return reply;
}

inline SimReply vendor_in(sim::SimPlatform& sim, OsHandle handle, uint8_t sub, uint32_t address,
                          uint32_t length, uint8_t parameter = 0) {
    VendorCommand c = vendor_command(OP_VENDOR_READ, sub, address, length, parameter);
    return send(sim, handle, c.cdb, std::vector<uint8_t>(length, 0), true);
}

inline SimReply vendor_out(sim::SimPlatform& sim, OsHandle handle, uint8_t sub, uint32_t address,
                           const std::vector<uint8_t>& data) {
    VendorCommand c = vendor_command(OP_VENDOR_WRITE, sub, address, uint32_t(data.size()));
    return send(sim, handle, c.cdb, data, false);
}

inline SimReply set_address(sim::SimPlatform& sim, OsHandle handle, uint32_t address) {
    std::vector<uint8_t> data(4);
    store_le32(data.data(), address);
    return vendor_out(sim, handle, SUB_SET_FLASH_ADDRESS, address, data);
}

inline SimReply data_write(sim::SimPlatform& sim, OsHandle handle,
                           const std::vector<uint8_t>& data) {
    return vendor_out(sim, handle, SUB_FLASH_DATA_WRITE, 0, data);
}

// Set flash address, then flash data write.
inline SimReply write_flash(sim::SimPlatform& sim, OsHandle handle, uint32_t address,
                            const std::vector<uint8_t>& data) {
    SimReply set = set_address(sim, handle, address);
    return !set.call_ok || set.status ? set : data_write(sim, handle, data);
}

inline SimReply restart(sim::SimPlatform& sim, OsHandle handle) {
    return vendor_out(sim, handle, SUB_RESTART, 0, {0, 0, 0, 0});
}

inline SimReply inquiry(sim::SimPlatform& sim, OsHandle handle) {
    const uint8_t cdb[16] = {0x12, 0, 0, 0, 254};
    return send(sim, handle, cdb, std::vector<uint8_t>(254, 0), true);
}

// A bridge named `name` at `path`.
inline sim::BridgeConfig bridge_at(const std::string& name, const std::string& path) {
    sim::BridgeConfig config;
    config.name = name;
    config.path = path;
    return config;
}

}  // namespace vtx::test
