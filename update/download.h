// Image download: an image written into flash from its end towards its start,
// the lead region last and the chunk on the header block after everything
// else.
#pragma once

#include <cstdint>

#include "device/transport.h"
#include "update/image.h"

namespace vtx {

// The chunk size for a reported largest transfer: rounded down to a multiple
// of 4096, at least 4096 and at most 65536 (4096 when the query failed).
uint32_t fw_chunk_size(bool query_ok, uint32_t reported);

// Downloads the image at `path` as its own header describes it.
int fw_download(DeviceHandle* handle, const char* path);

// Downloads the image validation accepted: the file must still have its size
// and header, and the payload bytes sent must give its CRC, or the chunk on
// the header block is never written. 0, -1, or the failure of a write or of
// the parameter read.
int fw_download_validated(DeviceHandle* handle, const ValidatedImage& image);

}  // namespace vtx
