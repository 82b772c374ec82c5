// The Linux layer: SG_IO pass-through on SCSI block and generic nodes, USB
// detection through sysfs, and the process side (own path, effective user id,
// re-launch through sudo or pkexec).
#pragma once

#include <string>
#include <vector>

#include "device/platform/platform.h"

namespace vtx {

class LinuxPlatform : public Platform {
  public:
    // The roots are parameters so tests can point them at a fake tree.
    explicit LinuxPlatform(std::string dev_root = "/dev", std::string sys_root = "/sys");

    // Open and send (linux_device.cpp).
    OsHandle open_device(const char* path) override;
    bool close_device(OsHandle handle) override;
    bool pass_through(OsHandle handle, ScsiCommand& command) override;
    int last_error() override;
    int general_failure_code() const override;

    // Enumeration (linux_enum.cpp).
    std::string candidate_path(int pass, int index) override;
    bool is_usb(OsHandle handle) override;
    // Whether the block device `name` (sda, sr0) sits on USB: its resolved
    // sysfs device path runs through a USB interface.
    bool block_device_is_usb(const std::string& name) const;

    // Time, process and console (linux_process.cpp).
    void pause_ms(unsigned milliseconds) override;
    double monotonic_seconds() override;
    std::string executable_path() override;
    char path_separator() const override { return '/'; }
    bool is_elevated() override;
    int relaunch_elevated(int argc, char** argv, std::string& failure) override;
    bool is_terminal(std::FILE* stream) override;

    const std::string& dev_root() const { return dev_root_; }
    const std::string& sys_root() const { return sys_root_; }

  private:
    std::string dev_root_;
    std::string sys_root_;
    int last_error_ = 0;
};

// The names in directory `dir` (linux_enum.cpp). False, with no names, when
// it cannot be listed or the listing fails part-way.
bool linux_list_directory(const std::string& dir, std::vector<std::string>& names);

}  // namespace vtx
