// What one bridge tells about itself, gathered with read commands only: the
// companion never sends a write (0xE3) command.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "device/bridge.h"
#include "device/transport.h"

namespace vtx::companion {

struct HandleCloser {
    void operator()(DeviceHandle* handle) const { dev_close(handle); }
};
using BridgeHandle = std::unique_ptr<DeviceHandle, HandleCloser>;

enum class OpenOutcome {
    kOpened,
    kCannotOpen,  // the path does not open (platform error in open_error)
    kNotBridge,   // it opens, but names no supported chip
};

struct OpenedBridge {
    BridgeHandle handle;
    int family = -1;
    int open_error = 0;
};

// Opens `path` and checks that a supported bridge answers there. The INQUIRY
// comes first and register reads only for a drive that names a chip of ours,
// so any other drive sees one INQUIRY and nothing else.
OpenOutcome open_bridge(const std::string& path, OpenedBridge& bridge);

// The first bridge that discovery admits, or "" when there is none.
std::string first_bridge_path();

// One query's result code and, when it is 0, its value.
template <typename Value>
struct Answer {
    int result = -1;
    Value value{};
    bool ok() const { return result == 0; }
};

struct BridgeFacts {
    std::string path;
    int family = -1;
    Answer<std::string> vendor, product, revision, model;  // INQUIRY fields, raw bytes
    uint8_t device_type = 0;
    Answer<uint32_t> chip_rev_register;
    Answer<uint32_t> chip_id;
    Answer<FirmwareVersion> version;
    uint32_t mode = 0;  // MODE_MAIN, MODE_RESCUE or MODE_OTHER, as the updater sees it
    Answer<uint32_t> identity;
    Answer<uint32_t> max_transfer;
    int ready_result = -1;
};

// Every fact `info` shows, from an opened bridge.
void gather_facts(OpenedBridge& bridge, BridgeFacts& facts);
// The INQUIRY fields alone, for a drive that is no bridge.
void read_inquiry_fields(DeviceHandle* handle, BridgeFacts& facts);

}  // namespace vtx::companion
