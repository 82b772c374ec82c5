// Image download: an image written into flash from its end towards its start,
// the lead region last.
#pragma once

#include <cstdint>

#include "device/transport.h"

namespace vtx {

// The chunk size for a reported largest transfer: rounded down to a multiple
// of 4096, at least 4096 and at most 65536 (4096 when the query failed).
uint32_t fw_chunk_size(bool query_ok, uint32_t reported);

int fw_download(DeviceHandle* handle, const char* path);

}  // namespace vtx
