// The Windows layer: CreateFileA, DeviceIoControl with the storage property
// query and SCSI pass-through direct, and the process side (module path,
// token elevation, ShellExecuteA "runas").
#pragma once

#include <string>

#include "device/platform/platform.h"

namespace vtx {

class Win32Platform : public Platform {
  public:
    // Open and send (win32_device.cpp).
    OsHandle open_device(const char* path) override;
    bool close_device(OsHandle handle) override;
    bool pass_through(OsHandle handle, ScsiCommand& command) override;
    int last_error() override;
    int general_failure_code() const override;

    // Enumeration (win32_enum.cpp).
    std::string candidate_path(int pass, int index) override;
    bool is_usb(OsHandle handle) override;

    // Time, process and console (win32_process.cpp).
    void pause_ms(unsigned milliseconds) override;
    double monotonic_seconds() override;
    std::string executable_path() override;
    char path_separator() const override { return '\\'; }
    bool is_elevated() override;
    int relaunch_elevated(int argc, char** argv, std::string& failure) override;
    bool is_terminal(std::FILE* stream) override;

  private:
    int last_error_ = 0;
};

}  // namespace vtx
