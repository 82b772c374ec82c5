#include "vtx/record_writers.h"

#include "vtx/bytes.h"

namespace vtx {

void firmware_version_to_bytes(const FirmwareVersion& v, uint8_t* out) {
    store_le32(out, v.major);
    store_le32(out + 4, v.minor);
    store_le32(out + 8, v.patch);
    store_le32(out + 12, v.spare);
    store_le32(out + 16, v.build_date);
}

void image_header_to_bytes(const ImageHeader& h, uint8_t* p) {
    store_le32(p, h.signature);
    p[4] = h.image_type;
    p[8] = h.chip_variant;
    store_le32(p + 16, h.payload_crc);
    store_le32(p + 20, h.payload_offset);
    store_le32(p + 24, h.payload_length);
    store_le32(p + 28, h.body_offset);
    store_le32(p + 32, h.body_address);
    store_le32(p + 40, h.lead_offset);
    store_le32(p + 44, h.lead_address);
    store_le32(p + 48, h.lead_length);
}

void led_header_to_bytes(const LedImageHeader& h, uint8_t* p) {
    store_le32(p, h.signature);
    store_le32(p + 8, h.flash_address);
    store_le32(p + 12, h.length_a);
    store_le32(p + 20, h.length_b);
}

}  // namespace vtx
