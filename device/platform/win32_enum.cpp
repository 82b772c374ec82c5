// Windows: the candidate paths of discovery (physical drives, then drive
// letters) and the bus type of an opened drive from its storage properties.
#include <windows.h>

#include <winioctl.h>

#include <cstddef>
#include <cstdio>

#include "device/platform/win32_platform.h"

namespace vtx {

namespace {

constexpr DWORD STORAGE_QUERY_IOCTL = 0x2D1400;
// Only the fixed part of the descriptor is asked for; BusType lies in it.
constexpr DWORD DESCRIPTOR_PREFIX = 40;

static_assert(IOCTL_STORAGE_QUERY_PROPERTY == STORAGE_QUERY_IOCTL);
static_assert(sizeof(STORAGE_PROPERTY_QUERY) == 12);
static_assert(sizeof(STORAGE_DEVICE_DESCRIPTOR) == DESCRIPTOR_PREFIX);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) == 28);
static_assert(BusTypeUsb == 7 && StorageDeviceProperty == 0 && PropertyStandardQuery == 0);

}  // namespace

std::string Win32Platform::candidate_path(int pass, int index) {
    if (index < 0 || index > 23)
        return {};
    char path[23] = {};
    if (pass == 0) {
        std::snprintf(path, sizeof path, "\\\\.\\PhysicalDrive%i", index);
    } else if (pass == 1) {
        std::snprintf(path, sizeof path, "\\\\.\\%c:", char('c' + index));
    } else {
        return {};
    }
    return path;
}

bool Win32Platform::is_usb(OsHandle handle) {
    STORAGE_PROPERTY_QUERY query = {};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    STORAGE_DEVICE_DESCRIPTOR descriptor = {};
    DWORD returned = 0;
    if (!DeviceIoControl(reinterpret_cast<HANDLE>(handle), IOCTL_STORAGE_QUERY_PROPERTY, &query,
                         sizeof query, &descriptor, DESCRIPTOR_PREFIX, &returned, nullptr)) {
        last_error_ = int(GetLastError());
        return false;
    }
    return descriptor.BusType == BusTypeUsb;
}

}  // namespace vtx
