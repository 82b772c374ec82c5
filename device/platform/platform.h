// The one seam to the operating system. Everything the logic needs from a
// platform stands in this interface; the Windows layer, the Linux layer and
// the simulated bridge each implement it, and only their files include the
// platform's own headers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace vtx {

// A platform's handle of an opened drive. INVALID_OS_HANDLE never stands in a
// holder after a successful open.
using OsHandle = std::intptr_t;
constexpr OsHandle INVALID_OS_HANDLE = -1;

// One SCSI command, as dev_send hands it to the platform: a 16-byte command
// block, at most one data buffer moved in one direction, a time-out, and the
// status, sense data and transfer count the device gives back.
struct ScsiCommand {
    uint8_t cdb[16] = {};
    void* data = nullptr;
    uint32_t length = 0;
    bool data_in = false;  // true: data from the device
    uint32_t timeout_s = 0;
    uint8_t scsi_status = 0;  // out: the device's status byte
    uint8_t sense[32] = {};   // out: sense data, filled by the platform
    uint32_t residual = 0;    // out: bytes of length the device did not move, at most length
};

class Platform {
  public:
    virtual ~Platform() = default;

    // Device access. open_device opens for read and write with shared read and
    // write access; INVALID_OS_HANDLE and last_error() on failure.
    virtual OsHandle open_device(const char* path) = 0;
    virtual bool close_device(OsHandle handle) = 0;
    // False when the platform call itself failed (last_error() says why); a
    // completed command with a bad status returns true with scsi_status set.
    virtual bool pass_through(OsHandle handle, ScsiCommand& command) = 0;
    // The error code of the last failed call of this interface.
    virtual int last_error() = 0;
    // The platform's general-failure code, the one error dev_send retries.
    virtual int general_failure_code() const = 0;

    // Discovery: the device path of candidate `index` (0 to 23) of pass 0
    // (physical drives) or pass 1 (lettered volumes), and whether an opened
    // device sits on the USB bus (false also when the query fails).
    virtual std::string candidate_path(int pass, int index) = 0;
    virtual bool is_usb(OsHandle handle) = 0;

    // Time: a pause, and a monotonic clock in seconds.
    virtual void pause_ms(unsigned milliseconds) = 0;
    virtual double monotonic_seconds() = 0;

    // Process: the running executable's full path ("" when it cannot be had),
    // the separator that joins a directory and a file name, whether the
    // process runs with administrator rights, and the request to start the
    // program again with them (arguments as this process received them).
    // The request gives the exit code this instance ends with: on Windows 0
    // once it is made (the new instance is not waited for); on Linux, which
    // waits, the elevated instance's own. -1 when no elevated instance could
    // be started; `failure` then says why.
    virtual std::string executable_path() = 0;
    virtual char path_separator() const = 0;
    virtual bool is_elevated() = 0;
    virtual int relaunch_elevated(int argc, char** argv, std::string& failure) = 0;

    // Console: whether a stream is an interactive terminal.
    virtual bool is_terminal(std::FILE* stream) = 0;
};

// The platform in use: the native layer of this build unless another one has
// been installed (the simulated bridge, a test's fake).
Platform& platform();
// Installs `layer` for the whole process; nullptr goes back to the native one.
// The caller keeps ownership and keeps it alive while installed.
void platform_install(Platform* layer);
// The native layer of this build (Windows or Linux).
Platform& native_platform();

}  // namespace vtx
