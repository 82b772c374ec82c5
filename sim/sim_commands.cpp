// The bridge's command set: what each command replies and what it does to the
// bridge, for the firmware that runs (main, rescue or the boot loader).
#include <algorithm>

#include "sim/sim_internal.h"
#include "vtx/bytes.h"

namespace vtx::sim {

using detail::check_condition;
using detail::illegal;
using detail::Outcome;

namespace {

constexpr uint8_t OP_INQUIRY = 0x12;
constexpr uint8_t OP_SERVICE_ACTION_IN_16 = 0x9E;
constexpr uint8_t OP_ATA_PASS_THROUGH_12 = 0xA1;
constexpr uint32_t MAX_TRANSFER_SELECTOR = 2;
constexpr uint8_t INFO_SELECTOR = 0x13;
constexpr uint32_t INFO_BLOCK_SIZE = 72;

uint32_t register_block(int family) {
    return family == 0 ? 0xB35000C4 : 0xB37000C4;
}
uint32_t identity_fallback(int family) {
    return family == 0 ? 0xFC : 0x7FC;
}

std::vector<uint8_t> le32_reply(uint32_t value) {
    std::vector<uint8_t> reply(4);
    store_le32(reply.data(), value);
    return reply;
}

Outcome reply_with(ScsiCommand& command, const std::vector<uint8_t>& reply) {
    detail::give_reply(command, reply);
    return {};
}

// The two chip registers, and flash through the read window. Nothing else
// of the address space answers.
Outcome memory_read(Bridge::State& bridge, ScsiCommand& command) {
    uint32_t address = load_le32(command.cdb + 8);
    uint64_t end = uint64_t(address) + command.length;
    int family = bridge.family();
    if (family >= 0 && address >= register_block(family) && end <= register_block(family) + 8) {
        std::vector<uint8_t> registers(8);
        store_le32(registers.data(), bridge.config.chip_rev_register);
        store_le32(registers.data() + 4, bridge.config.chip_id);
        uint32_t at = address - register_block(family);
        return reply_with(command, std::vector<uint8_t>(registers.begin() + at,
                                                        registers.begin() + (end - address) + at));
    }
    if (!(address & READ_WINDOW_BIT))
        return illegal(detail::ASC_OUT_OF_RANGE);
    uint32_t flash_address = address & ~READ_WINDOW_BIT;
    if (uint64_t(flash_address) + command.length > (uint64_t(1) << 32)) {
        return illegal(detail::ASC_OUT_OF_RANGE);
    }
    std::vector<uint8_t> bytes = bridge.read(flash_address, command.length);
    if (!bytes.empty() && bridge.world->corrupt_readbacks > 0) {
        --bridge.world->corrupt_readbacks;
        bytes[bytes.size() / 2] ^= 0x5A;
    }
    return reply_with(command, bytes);
}

// Identity reads that fail after a boot fail as a bridge still starting up.
Outcome identity_reply(Bridge::State& bridge, ScsiCommand& command) {
    if (bridge.identity_failures_left > 0) {
        --bridge.identity_failures_left;
        return check_condition(detail::SENSE_NOT_READY, detail::ASC_NOT_READY, 1);
    }
    return reply_with(command, le32_reply(bridge.config.identity));
}

std::vector<uint8_t> attachment_status(const BridgeConfig& config) {
    std::vector<uint8_t> reply(16, 0);
    if (config.drive) {
        store_le32(reply.data(), config.drive->drive_kind);
        store_le32(reply.data() + 4, config.drive->drive_state);
        store_le32(reply.data() + 8, config.drive->block_length);
    }
    return reply;
}

// The information block's contents mean nothing to the tool; these are
// stable and differ between bridges.
std::vector<uint8_t> information_block(const Bridge::State& bridge) {
    std::vector<uint8_t> reply(INFO_BLOCK_SIZE, 0);
    store_le32(reply.data(), bridge.config.chip_id);
    store_le32(reply.data() + 4, bridge.config.chip_rev_register);
    store_le32(reply.data() + 8, bridge.config.identity);
    const std::string& model = bridge.config.model;
    std::copy_n(model.begin(), std::min<size_t>(model.size(), 8), reply.begin() + 12);
    reply[20] = bridge.mode;
    return reply;
}

Outcome vendor_read(Bridge::State& bridge, ScsiCommand& command) {
    const BridgeConfig& config = bridge.config;
    switch (command.cdb[4]) {
        case SUB_MEMORY_READ:
            return memory_read(bridge, command);
        case SUB_VERSION:
            // The boot loader has no version to tell.
            if (bridge.mode == 0)
                return illegal(detail::ASC_INVALID_OPCODE);
            if (!config.version_reply.empty())
                return reply_with(command, config.version_reply);
            return reply_with(
                command, std::vector<uint8_t>(bridge.running_header.begin() + IMAGE_VERSION_OFFSET,
                                              bridge.running_header.begin() + IMAGE_VERSION_OFFSET +
                                                  FIRMWARE_VERSION_SIZE));
        case SUB_RUN_MODE:
            return reply_with(command, {bridge.mode});
        case SUB_MAX_TRANSFER:
            if (load_le32(command.cdb + 8) != MAX_TRANSFER_SELECTOR) {
                return illegal(detail::ASC_INVALID_FIELD_IN_CDB);
            }
            if (!config.max_transfer_reply)
                return illegal(detail::ASC_INVALID_OPCODE);
            return reply_with(command, le32_reply(*config.max_transfer_reply));
        case SUB_IDENTITY:
            if (!config.answers_identity_query)
                return illegal(detail::ASC_INVALID_OPCODE);
            return identity_reply(bridge, command);
        case SUB_IDENTITY_FALLBACK:
            if (bridge.family() < 0 ||
                load_le32(command.cdb + 8) != identity_fallback(bridge.family())) {
                return illegal(detail::ASC_OUT_OF_RANGE);
            }
            return identity_reply(bridge, command);
        case SUB_ATTACHMENT:
            return reply_with(command, attachment_status(config));
        case SUB_INFO:
            if (command.cdb[5] != INFO_SELECTOR)
                return illegal(detail::ASC_INVALID_FIELD_IN_CDB);
            return reply_with(command, information_block(bridge));
        default:
            return illegal(detail::ASC_INVALID_OPCODE);
    }
}

// Flash takes data in whole units; there is no erase, the bytes simply
// replace what was there. Each set address serves one data write.
Outcome flash_data_write(Bridge::State& bridge, ScsiCommand& command) {
    if (command.length % FLASH_UNIT != 0)
        return illegal(detail::ASC_INVALID_FIELD_IN_CDB);
    if (!bridge.pending_address) {
        return check_condition(detail::SENSE_ILLEGAL_REQUEST, detail::ASC_SEQUENCE_ERROR);
    }
    uint32_t address = *bridge.pending_address;
    if (uint64_t(address) + command.length > (uint64_t(1) << 32)) {
        return illegal(detail::ASC_OUT_OF_RANGE);
    }
    bridge.pending_address.reset();
    const auto* data = static_cast<const uint8_t*>(command.data);
    detail::World& world = *bridge.world;
    if (world.power_loss_write && world.current_index >= *world.power_loss_write) {
        bridge.write(address, data, std::min(world.power_loss_prefix, command.length));
        world.power_loss_write.reset();
        world.lose_power();
        Outcome outcome;
        outcome.platform_error = SIM_ERROR_DEVICE_NOT_CONNECTED;
        return outcome;
    }
    bridge.write(address, data, command.length);
    return {};
}

Outcome vendor_write(Bridge::State& bridge, ScsiCommand& command) {
    switch (command.cdb[4]) {
        case SUB_SET_FLASH_ADDRESS: {
            uint32_t address = load_le32(command.cdb + 8);
            if (command.length != 4 || load_le32(static_cast<uint8_t*>(command.data)) != address) {
                return illegal(detail::ASC_INVALID_FIELD_IN_DATA);
            }
            bridge.pending_address = address;
            return {};
        }
        case SUB_FLASH_DATA_WRITE:
            return flash_data_write(bridge, command);
        case SUB_RESTART: {
            Outcome outcome;
            outcome.restart = true;
            return outcome;
        }
        default:
            return illegal(detail::ASC_INVALID_OPCODE);
    }
}

}  // namespace

Outcome Bridge::State::run_command(ScsiCommand& command) {
    const uint8_t opcode = command.cdb[0];
    if (opcode == OP_VENDOR_READ || opcode == OP_VENDOR_WRITE) {
        // Every vendor command carries its data length in the length word,
        // and reads move data in, writes out.
        bool wants_in = opcode == OP_VENDOR_READ;
        if (load_le32(command.cdb + 12) != command.length ||
            (command.length > 0 && command.data_in != wants_in)) {
            return illegal(detail::ASC_INVALID_FIELD_IN_CDB);
        }
        return wants_in ? vendor_read(*this, command) : vendor_write(*this, command);
    }
    switch (opcode) {
        case OP_INQUIRY:
            return detail::inquiry(detail::bridge_inquiry(config), command);
        case OP_SERVICE_ACTION_IN_16:
            return detail::read_capacity(config, command);
        case OP_ATA_PASS_THROUGH_12:
            return detail::ata_pass_through(config, command);
        default:
            return illegal(detail::ASC_INVALID_OPCODE);
    }
}

}  // namespace vtx::sim
