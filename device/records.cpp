#include "vtx/records.h"

#include "vtx/bytes.h"

namespace vtx {

VendorCommand vendor_command(uint8_t opcode, uint8_t sub_command, uint32_t address, uint32_t length,
                             uint8_t parameter) {
    VendorCommand command;
    store_le32(command.cdb, opcode);
    store_le32(command.cdb + 4, sub_command | (uint32_t(parameter) << 8));
    store_le32(command.cdb + 8, address);
    store_le32(command.cdb + 12, length);
    return command;
}

FirmwareVersion firmware_version_from_bytes(const uint8_t* reply) {
    FirmwareVersion v;
    v.major = load_le32(reply);
    v.minor = load_le32(reply + 4);
    v.patch = load_le32(reply + 8);
    v.spare = load_le32(reply + 12);
    v.build_date = load_le32(reply + 16);
    return v;
}

ImageHeader image_header_from_bytes(const uint8_t* p) {
    ImageHeader h;
    h.signature = load_le32(p);
    h.image_type = p[4];
    h.chip_variant = p[8];
    h.payload_crc = load_le32(p + 16);
    h.payload_offset = load_le32(p + 20);
    h.payload_length = load_le32(p + 24);
    h.body_offset = load_le32(p + 28);
    h.body_address = load_le32(p + 32);
    h.lead_offset = load_le32(p + 40);
    h.lead_address = load_le32(p + 44);
    h.lead_length = load_le32(p + 48);
    return h;
}

LedImageHeader led_header_from_bytes(const uint8_t* p) {
    LedImageHeader h;
    h.signature = load_le32(p);
    h.flash_address = load_le32(p + 8);
    h.length_a = load_le32(p + 12);
    h.length_b = load_le32(p + 20);
    return h;
}

}  // namespace vtx
