// The bridge parameters the tool knows: name, type and size by id.
#pragma once

#include <cstdint>

namespace vtx {

constexpr uint8_t PARAM_NUMBER = 0;
constexpr uint8_t PARAM_BYTES_FIXED = 1;
constexpr uint8_t PARAM_BYTES_VAR = 2;
constexpr uint8_t PARAM_USB_STRING = 3;
constexpr uint8_t PARAM_SCSI_STRING = 4;
constexpr uint8_t PARAM_SIZED_NUMBER = 5;
constexpr uint8_t PARAM_OBSOLETE = 255;

struct ParameterDef {
    char name[128];
    uint8_t id;
    uint8_t type;
    uint8_t size;
};

constexpr int PARAMETER_COUNT = 57;
extern const ParameterDef ParameterTable[PARAMETER_COUNT];

// The first record in id order whose name equals `name` exactly, or null.
// A record of type 255 (or any type above 5) is found but unusable.
const ParameterDef* param_find_by_name(const char* name);
// The record of `id`, or null for an id of 57 or more.
const ParameterDef* param_find_by_id(uint8_t id);
// Whether a record's type can be parsed and encoded (0 to 5).
bool param_type_usable(uint8_t type);
// The record of `id` when it names a parameter that can be encoded, else null
// (ids of 57 or more and the OBSOLETED ids).
const ParameterDef* param_find_usable(uint8_t id);

}  // namespace vtx
