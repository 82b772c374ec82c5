// The replies of the bridge and of the drive behind it (INQUIRY, chip
// registers, version, identity, largest transfer, run mode, attachment status,
// capacity, IDENTIFY data, information block), fed through the simulated
// transport into discovery and every query, and into the texts the device
// check makes of the version.
//
// Input: four bytes that choose the bridge, one byte of other devices, then
// one control byte per command (and the bytes it asks for) as ReplySim reads
// them.
#include <cstring>
#include <vector>

#include "app/device_check.h"
#include "device/bridge.h"
#include "device/discovery.h"
#include "device/drive.h"
#include "device/transport.h"
#include "fuzz/fuzz_support.h"
#include "params/programming.h"
#include "tools/imagemaker/image_builder.h"
#include "update/download.h"
#include "update/image.h"
#include "update/sequencer.h"

namespace {

const std::string& valid_image() {
    static const std::string path = [] {
        vtx::imagemaker::ImageRecipe recipe =
            vtx::imagemaker::firmware_recipe_for_chip(0xA0020001, 10);
        recipe.body_size = 4096;
        return vtx::fuzz::scratch_file("replies_image.bin",
                                       vtx::imagemaker::build_firmware_image(recipe));
    }();
    return path;
}

void add_devices(vtx::sim::SimPlatform& sim, const vtx::sim::BridgeConfig& config, uint8_t others) {
    if (others & 1)
        sim.add_disk(vtx::sim::DiskConfig{});
    vtx::sim::BridgeConfig first = config;
    if (others & 2) {
        first.volume_path = "\\\\.\\e:";
        first.optical = (others & 4) != 0;
        if (others & 8)
            first.path.clear();
    }
    sim.add_bridge(first);
    if (others & 16) {
        vtx::sim::BridgeConfig second;
        second.name = "second";
        second.path = "\\\\.\\PhysicalDrive3";
        second.identity = 0x0BADF00D;
        sim.add_bridge(second);
    }
}

void check_entry(const vtx::DeviceEntry& entry) {
    FUZZ_EXPECT(!entry.path.empty());
    FUZZ_EXPECT(entry.name.size() <= 24);
    FUZZ_EXPECT(entry.serial[20] == 0 && entry.firmware[8] == 0 && entry.model[40] == 0);
}

void query_bridge(vtx::DeviceHandle* handle) {
    vtx::FirmwareVersion version;
    if (vtx::dev_read_version(handle, &version) == 0) {
        vtx::CurrentVersion texts = vtx::current_version_texts(version);
        FUZZ_EXPECT(texts.version.size() < 64 && texts.build_date.size() < 64);
        FUZZ_EXPECT(texts.date.empty() || texts.date.size() == 6);
    }
    uint32_t identity = 0;
    vtx::dev_read_identity(handle, &identity);
    uint32_t reported = 0;
    bool query_ok = vtx::dev_query_max_transfer(handle, &reported) == 0;
    uint32_t chunk = vtx::fw_chunk_size(query_ok, reported);
    FUZZ_EXPECT(chunk >= 4096 && chunk <= 65536 && chunk % 4096 == 0);
    vtx::dev_check_ready(handle);
    uint32_t mode = 0;
    vtx::fw_query_mode(handle, &mode);
    FUZZ_EXPECT(mode == vtx::MODE_MAIN || mode == vtx::MODE_RESCUE || mode == vtx::MODE_OTHER);
    int family = vtx::dev_detect_family(handle);
    FUZZ_EXPECT(family >= -1 && family <= 1);
    int optical = vtx::dev_check_optical(handle);
    FUZZ_EXPECT(optical >= 0 && optical <= 2);
    char name[512] = {};
    vtx::dev_get_name(handle, name);
    FUZZ_EXPECT(std::strlen(name) <= 24);

    vtx::AttachmentStatus status;
    vtx::dev_query_attachment(handle, &status);
    uint64_t last_lba = 0;
    uint32_t block_length = 0;
    if (vtx::dev_read_capacity(handle, &last_lba, &block_length) == 0)
        handle->block_length = block_length;
    char strings[vtx::ATA_STRINGS_SIZE] = {};
    vtx::dev_read_ata_strings(handle, strings);
    FUZZ_EXPECT(strings[20] == 0 && strings[29] == 0 && strings[70] == 0);
    uint16_t security[4] = {};
    vtx::dev_read_ata_security(handle, security);
    uint8_t info[vtx::INFO_BLOCK_SIZE] = {};
    vtx::dev_read_info_block(handle, info);
    std::vector<uint8_t> area(2048);
    vtx::param_read_area(handle, area.data(), uint32_t(area.size()));
    vtx::fw_check_image(handle, valid_image().c_str(), false);
    vtx::fw_check_image(handle, valid_image().c_str(), true);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    valid_image();
    vtx::fuzz::InputReader input(data, size);
    vtx::sim::BridgeConfig config = vtx::fuzz::bridge_config_from(input);
    uint8_t others = input.byte();
    vtx::fuzz::ReplySim sim(input);
    add_devices(sim, config, others);
    vtx::platform_install(&sim);

    vtx::DeviceEntry* list = vtx::dev_scan();
    for (vtx::DeviceEntry* entry = list; entry; entry = entry->next)
        check_entry(*entry);
    if (list) {
        vtx::DeviceHandle* handle = vtx::dev_open(list->path.c_str());
        if (handle) {
            query_bridge(handle);
            vtx::dev_close(handle);
        }
    }
    vtx::dev_free_list(list);
    vtx::platform_install(nullptr);
    return 0;
}
