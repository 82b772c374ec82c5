// The parameter area on the bridge: read, write with read-back, and the whole
// apply of a parameter file.
#pragma once

#include <cstdint>

#include "device/transport.h"

namespace vtx {

// Reads the header block and copies `length` bytes (at most 2048) of its
// parameter half into `destination`. 0, -1 (no memory, a length beyond the
// half), or the read's failure code; on failure nothing is copied.
int param_read_area(DeviceHandle* handle, uint8_t* destination, uint32_t length);
// Programs the 2048-byte `area` (length 2048) into the parameter half of the
// header block, keeping the image half as read from the bridge, with
// read-back and up to four attempts. 0, -1 (no memory, another length, a
// read-back that never matched), or the failure code of a read or write.
int param_write_area(DeviceHandle* handle, const uint8_t* area, uint32_t length);
// Loads and checks the parameter file at `path` and packs it into the
// 2048-byte `area`; sends nothing. 0, or -1 when the file cannot be read, sets
// no parameter, or holds records the area cannot hold with the 0 after them.
// The update keeps the area it validated and programs exactly that, so a file
// changed in between never reaches the bridge.
int param_pack_file(const char* path, uint8_t* area);
// Loads and checks the parameter file at `path` and, unless `validate_only`,
// programs it. An absent or empty path is 0 with nothing done. A file whose
// records do not fit the area with the 0 after them is refused with -1 in
// both modes, so
// the validation run stops an update before anything is written.
int param_apply_file(DeviceHandle* handle, const char* path, uint8_t validate_only);

}  // namespace vtx
