#include "companion/probe.h"

#include <vector>

#include "device/discovery.h"
#include "update/sequencer.h"
#include "vtx/bytes.h"

namespace vtx::companion {

namespace {

struct ListFree {
    void operator()(DeviceEntry* head) const { dev_free_list(head); }
};

Answer<uint32_t> read_register(DeviceHandle* handle, uint32_t address) {
    uint8_t reply[4] = {};
    Answer<uint32_t> answer;
    answer.result = dev_memory_read(handle, address, reply, sizeof reply);
    if (answer.ok())
        answer.value = load_le32(reply);
    return answer;
}

}  // namespace

void read_inquiry_fields(DeviceHandle* handle, BridgeFacts& facts) {
    std::vector<uint8_t> inquiry(INQUIRY_LENGTH, 0);
    int result = dev_inquiry(handle, inquiry.data(), INQUIRY_LENGTH);
    const char* bytes = reinterpret_cast<const char*>(inquiry.data());
    facts.vendor = {result, std::string(bytes + 8, 8)};
    facts.product = {result, std::string(bytes + 16, 16)};
    facts.revision = {result, std::string(bytes + 32, 4)};
    facts.model = {result, std::string(bytes + 44, 8)};
    facts.device_type = inquiry[0] & 0x1F;
}

OpenOutcome open_bridge(const std::string& path, OpenedBridge& bridge) {
    bridge.handle.reset(dev_open(path.c_str()));
    if (!bridge.handle) {
        bridge.open_error = platform().last_error();
        return OpenOutcome::kCannotOpen;
    }
    bridge.family = dev_detect_family(bridge.handle.get());
    return bridge.family == 0 || bridge.family == 1 ? OpenOutcome::kOpened
                                                    : OpenOutcome::kNotBridge;
}

std::string first_bridge_path() {
    std::unique_ptr<DeviceEntry, ListFree> list(dev_scan());
    return list ? list->path : std::string();
}

void gather_facts(OpenedBridge& bridge, BridgeFacts& facts) {
    DeviceHandle* handle = bridge.handle.get();
    facts.family = bridge.family;
    read_inquiry_fields(handle, facts);
    ChipRegisters registers = chip_registers(bridge.family);
    facts.chip_rev_register = read_register(handle, registers.revision);
    facts.chip_id = read_register(handle, registers.id);

    facts.version.result = dev_read_version(handle, &facts.version.value);
    fw_query_mode(handle, &facts.mode);
    facts.identity.result = dev_read_identity(handle, &facts.identity.value);
    facts.max_transfer.result = dev_query_max_transfer(handle, &facts.max_transfer.value);
    facts.ready_result = dev_check_ready(handle);
}

}  // namespace vtx::companion
