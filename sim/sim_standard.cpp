// The standard commands: INQUIRY of bridges and disks, and the replies of the
// drive behind a bridge (READ CAPACITY (16), ATA IDENTIFY DEVICE).
#include <algorithm>
#include <cstring>

#include "sim/sim_internal.h"
#include "vtx/bytes.h"

namespace vtx::sim::detail {

namespace {

constexpr uint8_t OP_INQUIRY = 0x12;
constexpr uint8_t SA_READ_CAPACITY_16 = 0x10;
constexpr uint8_t ATA_IDENTIFY_DEVICE = 0xEC;
constexpr size_t INQUIRY_SIZE = 254;
constexpr size_t IDENTIFY_SIZE = 512;

// A fixed-width INQUIRY field: cut, or padded with `pad`.
void put_field(std::vector<uint8_t>& out, size_t at, size_t width, const std::string& text,
               char pad) {
    for (size_t i = 0; i < width; ++i)
        out[at + i] = uint8_t(i < text.size() ? text[i] : pad);
}

std::vector<uint8_t> inquiry_data(uint8_t device_type, const std::string& vendor,
                                  const std::string& product, const std::string& revision) {
    std::vector<uint8_t> data(INQUIRY_SIZE, 0);
    data[0] = device_type & 0x1F;
    data[1] = device_type == 5 ? 0x80 : 0;  // optical media are removable
    data[2] = 0x06;
    data[3] = 0x02;
    data[4] = uint8_t(INQUIRY_SIZE - 5);
    put_field(data, 8, 8, vendor, ' ');
    put_field(data, 16, 16, product, ' ');
    put_field(data, 32, 4, revision, ' ');
    return data;
}

// ATA strings carry the first character of each pair in the high byte.
void put_ata_string(uint8_t* identify, int word, int words, const std::string& text) {
    for (int i = 0; i < 2 * words; ++i) {
        char c = size_t(i) < text.size() ? text[size_t(i)] : ' ';
        identify[2 * word + (i ^ 1)] = uint8_t(c);
    }
}

void put_word(uint8_t* identify, int word, uint16_t value) {
    store_le16(identify + 2 * word, value);
}

std::vector<uint8_t> identify_data(const DriveConfig& drive) {
    std::vector<uint8_t> id(IDENTIFY_SIZE, 0);
    uint8_t* p = id.data();
    uint64_t sectors = drive.last_lba + 1;
    put_word(p, 0, 0x0040);  // fixed device
    put_ata_string(p, 10, 10, drive.serial);
    put_ata_string(p, 23, 4, drive.firmware);
    put_ata_string(p, 27, 20, drive.model);
    put_word(p, 49, 0x0200);  // LBA
    uint32_t lba28 = uint32_t(std::min<uint64_t>(sectors, 0x0FFFFFFF));
    put_word(p, 60, uint16_t(lba28));
    put_word(p, 61, uint16_t(lba28 >> 16));
    put_word(p, 82, 0x0002);  // security feature set
    put_word(p, 83, 0x4400);  // 48-bit addresses
    put_word(p, 89, drive.erase_time);
    put_word(p, 90, drive.enhanced_erase_time);
    put_word(p, 92, drive.master_password_id);
    for (int i = 0; i < 4; ++i)
        put_word(p, 100 + i, uint16_t(sectors >> (16 * i)));
    put_word(p, 106, drive.block_length == 512 ? 0x4000 : 0x5000);
    uint32_t words_per_sector = drive.block_length / 2;
    put_word(p, 117, uint16_t(words_per_sector));
    put_word(p, 118, uint16_t(words_per_sector >> 16));
    put_word(p, 128, drive.security_status);
    // Integrity word: signature A5 and a checksum that makes the sum zero.
    id[510] = 0xA5;
    uint8_t sum = 0;
    for (size_t i = 0; i < 511; ++i)
        sum = uint8_t(sum + id[i]);
    id[511] = uint8_t(-sum);
    return id;
}

}  // namespace

void give_reply(ScsiCommand& command, const std::vector<uint8_t>& reply) {
    size_t n = std::min<size_t>(command.length, reply.size());
    if (n > 0)
        std::memcpy(command.data, reply.data(), n);
    command.residual = command.length - uint32_t(n);
}

std::vector<uint8_t> bridge_inquiry(const BridgeConfig& config) {
    std::vector<uint8_t> data =
        inquiry_data(config.optical ? 5 : 0, config.vendor,
                     config.optical ? config.optical_product : config.product, config.revision);
    // The chip model string: up to eight bytes, zeros after it.
    put_field(data, 44, 8, config.model.substr(0, 8), '\0');
    return data;
}

std::vector<uint8_t> disk_inquiry(const DiskConfig& config) {
    return inquiry_data(config.device_type, config.vendor, config.product, config.revision);
}

Outcome inquiry(const std::vector<uint8_t>& data, ScsiCommand& command) {
    if (!command.data_in || (command.cdb[1] & 1) || command.cdb[2] != 0) {
        return illegal(ASC_INVALID_FIELD_IN_CDB);
    }
    uint32_t allocation = uint32_t(command.cdb[3]) << 8 | command.cdb[4];
    std::vector<uint8_t> reply(data.begin(),
                               data.begin() + std::min<size_t>(allocation, data.size()));
    give_reply(command, reply);
    return {};
}

Outcome read_capacity(const BridgeConfig& config, ScsiCommand& command) {
    if ((command.cdb[1] & 0x1F) != SA_READ_CAPACITY_16 || !command.data_in) {
        return illegal(ASC_INVALID_FIELD_IN_CDB);
    }
    if (!config.drive || config.drive->capacity_fails) {
        return check_condition(SENSE_NOT_READY, ASC_NO_MEDIUM);
    }
    std::vector<uint8_t> reply(32, 0);
    store_be64(reply.data(), config.drive->last_lba);
    store_be32(reply.data() + 8, config.drive->block_length);
    reply.resize(std::min<size_t>(load_be32(command.cdb + 10), reply.size()));
    give_reply(command, reply);
    return {};
}

// The transfer is as long as the command asks; IDENTIFY fills its first 512
// bytes and zeros the rest.
Outcome ata_pass_through(const BridgeConfig& config, ScsiCommand& command) {
    if (command.cdb[9] != ATA_IDENTIFY_DEVICE || !command.data_in) {
        return illegal(ASC_INVALID_FIELD_IN_CDB);
    }
    if (!config.drive)
        return check_condition(SENSE_NOT_READY, ASC_NO_MEDIUM);
    std::vector<uint8_t> reply = identify_data(*config.drive);
    reply.resize(command.length, 0);
    give_reply(command, reply);
    return {};
}

Outcome run_disk_command(const DiskConfig& config, ScsiCommand& command) {
    if (command.cdb[0] != OP_INQUIRY)
        return illegal(ASC_INVALID_OPCODE);
    return inquiry(disk_inquiry(config), command);
}

}  // namespace vtx::sim::detail
