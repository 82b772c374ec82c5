// Device discovery: which drives of this computer are bridges this tool can
// update, in a fixed order.
#pragma once

#include <cstdint>
#include <string>

namespace vtx {

// One admitted bridge. The list belongs to the caller of dev_scan until
// dev_free_list.
struct DeviceEntry {
    std::string path;
    std::string name;  // 24 bytes of vendor and product identification, blanks kept
    char serial[21] = {};
    char firmware[9] = {};
    char model[41] = {};
    uint8_t info_block[72] = {};
    uint16_t security[4] = {};
    uint16_t reserved = 0;
    DeviceEntry* next = nullptr;
};

// One candidate of the enumeration: a USB device path that opened.
struct CandidatePath {
    std::string path;
    uint8_t is_volume = 0;  // 0 physical drive path, 1 lettered volume path
    CandidatePath* next = nullptr;
};

DeviceEntry* dev_scan();
void dev_free_list(DeviceEntry* head);
CandidatePath* dev_enumerate();
void dev_free_candidates(CandidatePath* head);

}  // namespace vtx
