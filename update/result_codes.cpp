#include "update/result_codes.h"

namespace vtx {

namespace {

struct ResultCode {
    int code;
    const char* name;
    const char* text;
};

constexpr ResultCode RESULT_CODES[] = {
    {UPDATE_DONE, "done", "the bridge runs the new main firmware"},
    {UPDATE_CANNOT_OPEN, "cannot-open", "the bridge cannot be opened by its device path"},
    {UPDATE_NOT_READY, "not-ready",
     "the bridge does not answer the readiness check, at the start or after the restart into "
     "its rescue firmware"},
    {UPDATE_RESTART_FAILED, "restart-failed",
     "a restart failed: the header block write, the identity read, or the bridge was not found "
     "again in time"},
    {UPDATE_NO_IDENTITY, "no-identity",
     "the bridge gives no identity word, or another attached bridge answers with the same one; "
     "nothing was written"},
    {UPDATE_FIRMWARE_IMAGE_BAD, "firmware-image-bad",
     "the firmware image is damaged or does not fit the chip or its main slot; nothing was "
     "written"},
    {UPDATE_RESCUE_IMAGE_BAD, "rescue-image-bad",
     "the rescue image is damaged or does not fit the chip or its rescue slot; nothing was "
     "written"},
    {UPDATE_LED_IMAGE_BAD, "led-image-bad",
     "the LED image is invalid or placed over an image; nothing was written"},
    {UPDATE_PARAMETER_FILE_BAD, "parameter-file-bad",
     "the parameter file sets no parameter or does not fit the parameter area; nothing was "
     "written"},
    {UPDATE_FIRMWARE_DOWNLOAD_FAILED, "firmware-download-failed",
     "writing the firmware image failed; the bridge still boots its rescue firmware"},
    {UPDATE_RESCUE_DOWNLOAD_FAILED, "rescue-download-failed",
     "writing the rescue image failed; the bridge still boots what it booted before"},
    {UPDATE_LED_DOWNLOAD_FAILED, "led-download-failed",
     "writing the LED image failed; the bridge still boots its rescue firmware"},
    {UPDATE_PARAMETERS_FAILED, "parameters-failed",
     "programming the parameter area failed; the bridge still boots its rescue firmware"},
    {UPDATE_NOT_IN_RESCUE, "not-in-rescue",
     "after the first restart the bridge does not run its rescue firmware"},
    {UPDATE_NOT_IN_MAIN, "not-in-main",
     "after the final restart the bridge does not run the main firmware"},
};

const ResultCode* find(int code) {
    for (const ResultCode& entry : RESULT_CODES) {
        if (entry.code == code)
            return &entry;
    }
    return nullptr;
}

}  // namespace

const char* fw_result_name(int code) {
    const ResultCode* entry = find(code);
    return entry ? entry->name : "unknown";
}

const char* fw_result_text(int code) {
    const ResultCode* entry = find(code);
    return entry ? entry->text : "not a result code of the update";
}

}  // namespace vtx
