// The bridge validation checked, as it then answered, so that every later
// handle can be held against it: no byte may go to another bridge, even one
// that answers with the same identity word.
#pragma once

#include <cstdint>

#include "device/discovery.h"
#include "device/transport.h"

namespace vtx {

// Vendor, product and revision (INQUIRY bytes 8 to 35) and the model string
// (44 to 51).
constexpr uint32_t INQUIRY_IDENTITY_SIZE = 36;

struct ChipIdentity {
    uint32_t chip_id = 0;
    uint32_t chip_rev = 0;
    uint8_t inquiry[INQUIRY_IDENTITY_SIZE] = {};
};

struct ValidatedBridge {
    uint32_t identity = 0;
    ChipIdentity chip;
};

// Reads the INQUIRY data and the chip revision and id registers. 0, -1 (no
// memory, no INQUIRY, no chip family), or the code of the chip id read. A
// revision that cannot be read counts as revision 0.
int fw_read_chip(DeviceHandle* handle, ChipIdentity* chip);

// Fills `bridge` from the open handle and the identity word already read.
int fw_note_bridge(DeviceHandle* handle, uint32_t identity, ValidatedBridge* bridge);

// Whether the bridge behind `handle` answers as the validated one did: the
// same identity word, chip id, revision and INQUIRY identity.
bool fw_is_validated_bridge(DeviceHandle* handle, const ValidatedBridge& bridge);

// One scan of the bus, its list freed on every path.
struct ScanList {
    DeviceEntry* head = dev_scan();
    ScanList() = default;
    ScanList(const ScanList&) = delete;
    ScanList& operator=(const ScanList&) = delete;
    ~ScanList() { dev_free_list(head); }
};

// Whether a bridge other than the one at `own_path` answers on the bus with
// `identity`. A restart could not tell the two apart.
bool fw_identity_twin_on_bus(const char* own_path, uint32_t identity);

}  // namespace vtx
