// Records written back to bytes. The tool only reads these records from the
// bridge and from files; the programs that make images and play the bridge
// (the image maker, the simulated bridge) write them, and link the library
// vtx_recordwriters for it.
#pragma once

#include <cstdint>

#include "vtx/records.h"

namespace vtx {

void firmware_version_to_bytes(const FirmwareVersion& version, uint8_t* out20);
void image_header_to_bytes(const ImageHeader& header, uint8_t* header2048);
void led_header_to_bytes(const LedImageHeader& header, uint8_t* header64);

}  // namespace vtx
