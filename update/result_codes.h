// The update's result codes, one for each step that can fail. vtx_fwupdate
// prints the bare number; the other programs can say what it means.
#pragma once

namespace vtx {

constexpr int UPDATE_DONE = 0;
constexpr int UPDATE_CANNOT_OPEN = -1;         // no handle by the device path, or no memory
constexpr int UPDATE_NOT_READY = -3;           // no answer to the readiness check
constexpr int UPDATE_RESTART_FAILED = -4;      // header block, identity read or reconnect
constexpr int UPDATE_NO_IDENTITY = -5;         // no identity word, or one another bridge shares
constexpr int UPDATE_FIRMWARE_IMAGE_BAD = -6;  // damaged, or not for this chip's main slot
constexpr int UPDATE_RESCUE_IMAGE_BAD = -7;    // damaged, or not for this chip's rescue slot
constexpr int UPDATE_LED_IMAGE_BAD = -8;       // invalid, or placed over an image
constexpr int UPDATE_PARAMETER_FILE_BAD = -9;  // sets nothing, or does not fit the area
constexpr int UPDATE_FIRMWARE_DOWNLOAD_FAILED = -10;
constexpr int UPDATE_RESCUE_DOWNLOAD_FAILED = -11;
constexpr int UPDATE_LED_DOWNLOAD_FAILED = -12;
constexpr int UPDATE_PARAMETERS_FAILED = -13;  // programming the parameter area
constexpr int UPDATE_NOT_IN_RESCUE = -14;      // after the first restart
constexpr int UPDATE_NOT_IN_MAIN = -15;        // after the final restart

// "cannot-open", "not-ready", ...; "unknown" for any other value.
const char* fw_result_name(int code);
// One sentence on what failed and where the bridge stands.
const char* fw_result_text(int code);

}  // namespace vtx
