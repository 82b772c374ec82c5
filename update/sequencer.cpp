#include "update/sequencer.h"

#include <clocale>

#include "device/bridge.h"
#include "params/encoder.h"
#include "params/programming.h"
#include "update/bridge_match.h"
#include "update/download.h"
#include "update/header_block.h"
#include "update/image.h"
#include "update/led.h"
#include "update/progress.h"
#include "update/restart.h"
#include "update/result_codes.h"
#include "vtx/buffer.h"
#include "vtx/bytes.h"
#include "vtx/records.h"

namespace vtx {

namespace {

constexpr uint32_t IDENTITY_NONE = 0xFFFFFFFF;
constexpr int RESCUE_RESTART_LIMIT_S = 10;
constexpr int MAIN_RESTART_LIMIT_S = 20;

// The handle the sequence works on. The restart replaces it with the handle of
// the re-found bridge, or with none; whatever it holds at the end is closed.
struct HandleSlot {
    DeviceHandle* handle = nullptr;
    HandleSlot() = default;
    HandleSlot(const HandleSlot&) = delete;
    HandleSlot& operator=(const HandleSlot&) = delete;
    ~HandleSlot() {
        if (handle)
            dev_close(handle);
    }
};

struct UpdateFiles {
    const char* device;
    const char* bin;
    const char* rescue;
    const char* cfg;  // may be null or empty
    const char* led;  // may be null or empty
};

// What validation accepted, for every later step to hold on to.
struct Validated {
    ValidatedBridge bridge;
    ValidatedImage bin, rescue;
    uint32_t mode = MODE_OTHER;
    bool led_ready = false;
    // The parameter area the file packed into at validation; the main
    // install programs these bytes, not the file as it is by then.
    Buffer param_area;
};

bool given(const char* path) {
    return path && *path;
}

// Whether the bridge can be told apart from every other one on the bus, and
// what it answers with, so that every restart finds this one and no other.
int validate_bridge(DeviceHandle* handle, const char* device_path, ValidatedBridge& bridge) {
    if (dev_check_ready(handle) != 0)
        return UPDATE_NOT_READY;
    uint32_t identity = 0;
    if (dev_read_identity(handle, &identity) != 0 || identity == IDENTITY_NONE)
        return UPDATE_NO_IDENTITY;
    if (fw_identity_twin_on_bus(device_path, identity))
        return UPDATE_NO_IDENTITY;
    return fw_note_bridge(handle, identity, &bridge) == 0 ? UPDATE_DONE : UPDATE_NO_IDENTITY;
}

// Validation: everything that can be checked before the bridge is written.
int validate(DeviceHandle* handle, const UpdateFiles& files, uint8_t* led_header, Validated& ok) {
    int result = validate_bridge(handle, files.device, ok.bridge);
    if (result != 0)
        return result;
    fw_query_mode(handle, &ok.mode);
    if (fw_check_image(handle, files.bin, false, &ok.bin) != 0)
        return UPDATE_FIRMWARE_IMAGE_BAD;
    // The rescue image is checked even when it will not be written, so a bad
    // one is found before anything changes on the bridge.
    if (fw_check_image(handle, files.rescue, true, &ok.rescue) != 0)
        return UPDATE_RESCUE_IMAGE_BAD;
    if (given(files.led)) {
        // An LED image is written after the firmware image; one placed over
        // either image would leave the bridge nothing to boot.
        if (led_check_image(files.led, led_header) != 0 ||
            !led_clear_of_images(led_header, ok.bin, ok.rescue))
            return UPDATE_LED_IMAGE_BAD;
        ok.led_ready = true;
    }
    if (given(files.cfg) && (!buffer_alloc(ok.param_area, PARAMETER_AREA_SIZE) ||
                             param_pack_file(files.cfg, ok.param_area.data()) != 0))
        return UPDATE_PARAMETER_FILE_BAD;
    return 0;
}

// The bytes the update expects to write, kept within the signed counter.
int32_t total_of(const char* led, uint64_t images) {
    uint64_t total = uint64_t(led_image_size(led)) + images;
    return total > uint64_t(INT32_MAX) ? INT32_MAX : int32_t(total);
}

// While the main firmware (or neither) runs: the rescue image, then a restart
// into the rescue firmware.
int install_rescue(HandleSlot& slot, const UpdateFiles& files, const Validated& ok,
                   std::string* found_path) {
    fw_total_bytes = total_of(files.led, uint64_t(ok.rescue.size) + ok.bin.size);
    if (fw_download_validated(slot.handle, ok.rescue) != 0)
        return UPDATE_RESCUE_DOWNLOAD_FAILED;
    if (fw_restart_reconnect(&slot.handle, ok.rescue, ok.bridge, RESCUE_RESTART_LIMIT_S,
                             found_path) != 0)
        return UPDATE_RESTART_FAILED;
    if (dev_check_ready(slot.handle) != 0)
        return UPDATE_NOT_READY;
    uint32_t mode = MODE_OTHER;
    fw_query_mode(slot.handle, &mode);
    return mode == MODE_RESCUE ? UPDATE_DONE : UPDATE_NOT_IN_RESCUE;
}

// While the rescue firmware runs: the LED image and the parameters, then the
// firmware image and its header block, then a restart into the new main
// firmware. The firmware's header goes last: until it lands, a power loss
// leaves the bridge in its rescue firmware and the next run starts the main
// install again. Written before the LED image and the parameters, it would let
// the bridge boot the new firmware with the old parameters, and every later run
// would find equal versions and skip.
int install_main(HandleSlot& slot, const UpdateFiles& files, const Validated& ok,
                 const uint8_t* led_header, std::string* found_path) {
    if (fw_total_bytes == 0)
        fw_total_bytes = total_of(files.led, ok.bin.size);
    // The LED image goes where validation saw it placed, clear of both images.
    if (ok.led_ready && led_download(slot.handle, files.led, led_header) != 0)
        return UPDATE_LED_DOWNLOAD_FAILED;
    if (!ok.param_area.empty() &&
        param_write_area(slot.handle, ok.param_area.data(), PARAMETER_AREA_SIZE) != 0)
        return UPDATE_PARAMETERS_FAILED;
    // The download carries the parameters just programmed into the header
    // block with the lead region.
    if (fw_download_validated(slot.handle, ok.bin) != 0)
        return UPDATE_FIRMWARE_DOWNLOAD_FAILED;
    // The download has already put this header in place with the lead region.
    // Its result is left alone: the restart below writes the block once more
    // and that write decides.
    (void)flash_write_header_block(slot.handle, files.bin, ok.bin.header);
    if (fw_restart_reconnect(&slot.handle, ok.bin, ok.bridge, MAIN_RESTART_LIMIT_S, found_path) !=
        0)
        return UPDATE_RESTART_FAILED;
    uint32_t mode = MODE_OTHER;
    fw_query_mode(slot.handle, &mode);
    return mode == MODE_MAIN ? UPDATE_DONE : UPDATE_NOT_IN_MAIN;
}

int run_update(const UpdateFiles& files, std::string* found_path) {
    HandleSlot slot;
    slot.handle = dev_open(files.device);
    // The sequencer reads nothing from this area; led_check_image fills it.
    // Without it the LED check has nowhere to go, so the run ends here, before
    // anything has been sent.
    Buffer led_header;
    if (!buffer_alloc(led_header, LED_HEADER_SIZE))
        return UPDATE_CANNOT_OPEN;
    if (!slot.handle)
        return UPDATE_CANNOT_OPEN;

    Validated ok;
    int result = validate(slot.handle, files, led_header.data(), ok);
    if (result != 0)
        return result;
    if (ok.mode != MODE_RESCUE) {
        result = install_rescue(slot, files, ok, found_path);
        if (result != 0)
            return result;
    }
    return install_main(slot, files, ok, led_header.data(), found_path);
}

}  // namespace

void fw_query_mode(DeviceHandle* handle, uint32_t* mode) {
    if (!mode)
        return;
    uint8_t reply[4] = {};
    int result = dev_send(handle, vendor_command(OP_VENDOR_READ, SUB_RUN_MODE, 0, 1), reply, 1,
                          DIR_IN, DEV_TIMEOUT, nullptr);
    uint32_t value = load_le32(reply);
    if (result == 0 && value == 1) {
        *mode = MODE_MAIN;
    } else if (result == 0 && value == 2) {
        *mode = MODE_RESCUE;
    } else {
        *mode = MODE_OTHER;
    }
}

int fw_update(const char* device_path, const char* bin_path, const char* rescue_path,
              const char* cfg_path, const char* led_path, std::string* found_path) {
    fw_reset_progress();
    // Paths may carry characters outside the system code page; the result is
    // of no consequence where that locale does not exist.
    std::setlocale(LC_ALL, ".UTF8");
    if (found_path && device_path)
        *found_path = device_path;
    int result = run_update({device_path, bin_path, rescue_path, cfg_path, led_path}, found_path);
    fw_last_error = result;
    return result;
}

}  // namespace vtx
