#include "tools/usbgadget/scsi_target.h"

#include <algorithm>

#include "vtx/bytes.h"

namespace vtx::gadget {
namespace {

constexpr uint8_t OP_TEST_UNIT_READY = 0x00;
constexpr uint8_t OP_REQUEST_SENSE = 0x03;
constexpr uint8_t OP_READ_6 = 0x08;
constexpr uint8_t OP_INQUIRY = 0x12;
constexpr uint8_t OP_MODE_SENSE_6 = 0x1A;
constexpr uint8_t OP_START_STOP = 0x1B;
constexpr uint8_t OP_ALLOW_REMOVAL = 0x1E;
constexpr uint8_t OP_READ_CAPACITY_10 = 0x25;
constexpr uint8_t OP_READ_10 = 0x28;
constexpr uint8_t OP_VERIFY_10 = 0x2F;
constexpr uint8_t OP_SYNCHRONIZE_CACHE = 0x35;
constexpr uint8_t OP_MODE_SENSE_10 = 0x5A;
constexpr uint8_t OP_READ_16 = 0x88;
constexpr uint8_t OP_SERVICE_ACTION_IN = 0x9E;
constexpr uint8_t SA_READ_CAPACITY_16 = 0x10;

constexpr uint8_t KEY_NO_SENSE = 0x00;
constexpr uint8_t KEY_ILLEGAL_REQUEST = 0x05;
constexpr uint8_t ASC_INVALID_OPCODE = 0x20;
constexpr uint8_t ASC_INVALID_FIELD = 0x24;
constexpr uint8_t ASC_LBA_OUT_OF_RANGE = 0x21;

Reply failed(uint8_t key, uint8_t asc) {
    Reply reply;
    reply.status = Status::kCheckCondition;
    reply.sense = make_sense(key, asc, 0);
    return reply;
}

void put_text(std::vector<uint8_t>& out, size_t offset, const std::string& text, size_t width) {
    for (size_t i = 0; i < width; ++i)
        out[offset + i] = i < text.size() ? text[i] : ' ';
}

}  // namespace

SenseData make_sense(uint8_t key, uint8_t asc, uint8_t ascq) {
    SenseData sense{};
    sense[0] = 0x70;  // current error, fixed format
    sense[2] = key;
    sense[7] = 10;  // additional length: bytes 8 to 17
    sense[12] = asc;
    sense[13] = ascq;
    return sense;
}

void fit_reply(Reply& reply, uint32_t host_length, uint32_t allocation_length) {
    size_t limit = std::min<size_t>(host_length, allocation_length);
    if (reply.data.size() > limit)
        reply.data.resize(limit);
}

ScsiTarget::ScsiTarget(Medium medium, Backend* backend)
    : medium_(std::move(medium)), backend_(backend), last_sense_(make_sense(KEY_NO_SENSE, 0, 0)) {}

Reply ScsiTarget::execute(const Command& command) {
    bool handled = false;
    Reply reply = local(command, handled);
    if (!handled) {
        reply =
            backend_ ? backend_->execute(command) : failed(KEY_ILLEGAL_REQUEST, ASC_INVALID_OPCODE);
    }
    if (!command.data_in)
        reply.data.clear();
    fit_reply(reply, command.length, command.length);
    // REQUEST SENSE reports the last failure once; the kernel asks for it
    // right after every failed status.
    if (reply.status == Status::kCheckCondition)
        last_sense_ = reply.sense;
    return reply;
}

Reply ScsiTarget::local(const Command& command, bool& handled) {
    handled = true;
    const uint8_t* cdb = command.cdb;
    switch (cdb[0]) {
        case OP_TEST_UNIT_READY:
        case OP_START_STOP:
        case OP_ALLOW_REMOVAL:
        case OP_SYNCHRONIZE_CACHE:
        case OP_VERIFY_10:
            return Reply{};
        case OP_REQUEST_SENSE:
            return request_sense(command);
        case OP_INQUIRY:
            if ((cdb[1] & 1) != 0)
                return vital_product_data(command);
            if (backend_ == nullptr)
                return inquiry(command);
            break;
        case OP_READ_CAPACITY_10:
            return read_capacity(command, false);
        case OP_SERVICE_ACTION_IN:
            if ((cdb[1] & 0x1F) == SA_READ_CAPACITY_16 && backend_ == nullptr) {
                return read_capacity(command, true);
            }
            break;
        case OP_MODE_SENSE_6:
            return mode_sense(command, false);
        case OP_MODE_SENSE_10:
            return mode_sense(command, true);
        case OP_READ_6:
        case OP_READ_10:
        case OP_READ_16:
            return read_blocks(command);
        default:
            break;
    }
    handled = false;
    return Reply{};
}

Reply ScsiTarget::inquiry(const Command& command) {
    Reply reply;
    reply.data.assign(36, 0);
    reply.data[0] = medium_.device_type;
    reply.data[1] = 0x80;  // removable medium
    reply.data[2] = 0x06;
    reply.data[3] = 0x02;
    reply.data[4] = 31;
    put_text(reply.data, 8, medium_.vendor, 8);
    put_text(reply.data, 16, medium_.product, 16);
    put_text(reply.data, 32, medium_.revision, 4);
    fit_reply(reply, command.length, uint32_t(command.cdb[3] << 8 | command.cdb[4]));
    return reply;
}

Reply ScsiTarget::vital_product_data(const Command& command) {
    Reply reply;
    uint8_t page = command.cdb[2];
    if (page == 0x00) {
        reply.data = {medium_.device_type, 0x00, 0x00, 2, 0x00, 0x80};
    } else if (page == 0x80) {
        reply.data.assign(4 + medium_.serial.size(), 0);
        reply.data[0] = medium_.device_type;
        reply.data[1] = 0x80;
        reply.data[3] = uint8_t(medium_.serial.size());
        put_text(reply.data, 4, medium_.serial, medium_.serial.size());
    } else {
        return failed(KEY_ILLEGAL_REQUEST, ASC_INVALID_FIELD);
    }
    fit_reply(reply, command.length, uint32_t(command.cdb[3] << 8 | command.cdb[4]));
    return reply;
}

Reply ScsiTarget::read_capacity(const Command& command, bool long_form) {
    Reply reply;
    uint32_t last = medium_.block_count - 1;
    if (long_form) {
        reply.data.assign(32, 0);
        store_be64(reply.data.data(), last);
        store_be32(reply.data.data() + 8, medium_.block_length);
        fit_reply(reply, command.length, load_be32(command.cdb + 10));
    } else {
        reply.data.assign(8, 0);
        store_be32(reply.data.data(), last);
        store_be32(reply.data.data() + 4, medium_.block_length);
    }
    return reply;
}

// A header without pages: not write protected, no block descriptors. The
// kernel then assumes a write-through cache, which is what it should do.
Reply ScsiTarget::mode_sense(const Command& command, bool ten_byte) {
    Reply reply;
    if (ten_byte) {
        reply.data.assign(8, 0);
        store_be16(reply.data.data(), 6);
        fit_reply(reply, command.length, uint32_t(command.cdb[7] << 8 | command.cdb[8]));
    } else {
        reply.data.assign(4, 0);
        reply.data[0] = 3;
        fit_reply(reply, command.length, command.cdb[4]);
    }
    return reply;
}

// The medium reads as zeros: no partition table, nothing to mount.
Reply ScsiTarget::read_blocks(const Command& command) {
    const uint8_t* cdb = command.cdb;
    uint64_t lba = 0;
    uint32_t blocks = 0;
    if (cdb[0] == OP_READ_6) {
        lba = (uint32_t(cdb[1] & 0x1F) << 16) | (uint32_t(cdb[2]) << 8) | cdb[3];
        blocks = cdb[4] == 0 ? 256 : cdb[4];
    } else if (cdb[0] == OP_READ_10) {
        lba = load_be32(cdb + 2);
        blocks = uint32_t(cdb[7] << 8 | cdb[8]);
    } else {
        lba = load_be64(cdb + 2);
        blocks = load_be32(cdb + 10);
    }
    if (lba + blocks > medium_.block_count)
        return failed(KEY_ILLEGAL_REQUEST, ASC_LBA_OUT_OF_RANGE);
    Reply reply;
    reply.data.assign(size_t(blocks) * medium_.block_length, 0);
    return reply;
}

Reply ScsiTarget::request_sense(const Command& command) {
    Reply reply;
    reply.data.assign(last_sense_.begin(), last_sense_.end());
    last_sense_ = make_sense(KEY_NO_SENSE, 0, 0);
    fit_reply(reply, command.length, command.cdb[4]);
    return reply;
}

}  // namespace vtx::gadget
