#include "update/bridge_match.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "device/bridge.h"
#include "device/discovery.h"
#include "vtx/buffer.h"
#include "vtx/bytes.h"

namespace vtx {

namespace {

constexpr uint32_t INQUIRY_NAMES_OFFSET = 8;
constexpr uint32_t INQUIRY_NAMES_SIZE = 28;
constexpr uint32_t INQUIRY_MODEL_OFFSET = 44;

bool same_chip(const ChipIdentity& a, const ChipIdentity& b) {
    return a.chip_id == b.chip_id && a.chip_rev == b.chip_rev &&
           std::equal(a.inquiry, a.inquiry + INQUIRY_IDENTITY_SIZE, b.inquiry);
}

}  // namespace

int fw_read_chip(DeviceHandle* handle, ChipIdentity* chip) {
    Buffer inquiry;
    if (!buffer_alloc(inquiry, INQUIRY_LENGTH))
        return -1;
    if (dev_inquiry(handle, inquiry.data(), INQUIRY_LENGTH) != 0)
        return -1;
    int family = chip_family_of(inquiry.data());
    if (family == CHIP_FAMILY_UNKNOWN)
        return -1;
    std::copy_n(inquiry.data() + INQUIRY_NAMES_OFFSET, INQUIRY_NAMES_SIZE, chip->inquiry);
    std::copy_n(inquiry.data() + INQUIRY_MODEL_OFFSET, INQUIRY_IDENTITY_SIZE - INQUIRY_NAMES_SIZE,
                chip->inquiry + INQUIRY_NAMES_SIZE);
    ChipRegisters registers = chip_registers(family);

    // A revision that cannot be read counts as revision 0; only the id
    // decides whether the bridge answers at all.
    uint8_t reply[4] = {};
    chip->chip_rev =
        dev_memory_read(handle, registers.revision, reply, 4) == 0 ? load_le32(reply) >> 16 : 0;
    std::memset(reply, 0, sizeof reply);
    int result = dev_memory_read(handle, registers.id, reply, 4);
    if (result != 0)
        return result;
    chip->chip_id = load_le32(reply);
    return 0;
}

int fw_note_bridge(DeviceHandle* handle, uint32_t identity, ValidatedBridge* bridge) {
    bridge->identity = identity;
    return fw_read_chip(handle, &bridge->chip) == 0 ? 0 : -1;
}

bool fw_is_validated_bridge(DeviceHandle* handle, const ValidatedBridge& bridge) {
    uint32_t word = 0;
    if (dev_read_identity(handle, &word) != 0 || word != bridge.identity)
        return false;
    ChipIdentity chip;
    return fw_read_chip(handle, &chip) == 0 && same_chip(chip, bridge.chip);
}

bool fw_identity_twin_on_bus(const char* own_path, uint32_t identity) {
    ScanList list;
    for (const DeviceEntry* entry = list.head; entry; entry = entry->next) {
        if (entry->path == own_path)
            continue;
        DeviceHandle* other = dev_open(entry->path.c_str());
        if (!other)
            continue;
        uint32_t word = 0;
        bool twin = dev_read_identity(other, &word) == 0 && word == identity;
        dev_close(other);
        if (twin)
            return true;
    }
    return false;
}

}  // namespace vtx
