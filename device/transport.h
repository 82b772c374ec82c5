// The device handle and the one command transport: every exchange with a
// bridge goes through dev_send.
#pragma once

#include <cstdint>

#include "device/platform/platform.h"
#include "vtx/records.h"

namespace vtx {

// The OS device holder: one platform handle of an opened drive.
struct OsDevice {
    OsHandle handle = INVALID_OS_HANDLE;
};

// An opened bridge. block_length is the logical block length of the medium
// behind the bridge; 0 stands for no value. Only discovery sets it, on its
// temporary handles.
struct DeviceHandle {
    OsDevice* device = nullptr;
    uint32_t block_length = 0;
};

OsDevice* dev_open_raw(const char* path);
int dev_close_raw(OsDevice* holder);
DeviceHandle* dev_open(const char* path);
int dev_close(DeviceHandle* handle);

// One command: result 0, the SCSI status byte, or the platform's error code.
// `sense`, when given, receives the first 18 bytes of sense data. Bytes of a
// data-in transfer the device did not move read as zeros; a vendor read the
// device answers short fails as CHECK CONDITION (2) would.
int dev_send(DeviceHandle* handle, const VendorCommand& command, void* data, int32_t length,
             uint8_t direction, uint32_t timeout_s, uint8_t* sense);

uint16_t dev_block_length(const DeviceHandle* handle);

}  // namespace vtx
