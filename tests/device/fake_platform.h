// A small scripted platform for the transport and query tests: every device
// answers through a function the test gives, and every command is recorded
// with the exact buffer address the platform received.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "device/platform/platform.h"

namespace vtx::test {

// One command as the platform received it.
struct SentCommand {
    std::string device;
    uint8_t cdb[16] = {};
    void* data = nullptr;
    uint32_t length = 0;
    bool data_in = false;
    uint32_t timeout_s = 0;
    std::vector<uint8_t> data_out;  // the buffer's bytes when the command went out
};

// A device's answer to one command.
struct Reply {
    bool call_ok = true;
    int error = 0;               // platform error when !call_ok
    uint8_t status = 0;          // SCSI status byte
    std::vector<uint8_t> data;   // written into the buffer (data-in commands, at most length)
    std::vector<uint8_t> sense;  // written into the sense area
};

using Responder = std::function<Reply(const SentCommand&)>;

class FakePlatform : public Platform {
  public:
    // Adds a device at `path`; `usb` says what is_usb answers for it.
    void add_device(const std::string& path, Responder respond, bool usb = true);
    // The paths candidate_path gives for pass 0 and pass 1, by index.
    std::vector<std::string> candidates[2];

    std::vector<SentCommand> sent;
    int opens = 0;
    int closes = 0;
    bool close_fails = false;
    std::set<OsHandle> open_handles;

    OsHandle open_device(const char* path) override;
    bool close_device(OsHandle handle) override;
    bool pass_through(OsHandle handle, ScsiCommand& command) override;
    int last_error() override { return last_error_; }
    int general_failure_code() const override { return 31; }
    std::string candidate_path(int pass, int index) override;
    bool is_usb(OsHandle handle) override;
    void pause_ms(unsigned) override {}
    double monotonic_seconds() override { return 0; }
    std::string executable_path() override { return {}; }
    char path_separator() const override { return '/'; }
    bool is_elevated() override { return true; }
    void relaunch_elevated(int, char**) override {}
    bool is_terminal(std::FILE*) override { return false; }

  private:
    struct Device {
        Responder respond;
        bool usb;
    };
    std::map<std::string, Device> devices_;
    std::map<OsHandle, std::string> handles_;
    OsHandle next_handle_ = 100;
    int last_error_ = 0;
};

// Installs a FakePlatform for the lifetime of the object.
class FakeInstalled {
  public:
    FakeInstalled();
    ~FakeInstalled();
    FakeInstalled(const FakeInstalled&) = delete;
    FakeInstalled& operator=(const FakeInstalled&) = delete;

    FakePlatform* operator->() { return &fake_; }
    FakePlatform& fake() { return fake_; }

  private:
    FakePlatform fake_;
};

// 254 bytes of INQUIRY data: device type, vendor (8), product (16), revision
// (4) and the chip model string at byte 44 with its terminating zero.
std::vector<uint8_t> inquiry_data(const std::string& revision, const std::string& model,
                                  uint8_t device_type = 0, const std::string& vendor = "Vantrex ",
                                  const std::string& product = "USB Bridge      ");

// A bridge that answers INQUIRY with `inquiry` and memory reads (0xE2, 0x92)
// from the 32-bit little-endian words of `memory`; every other command
// completes with no data, unless `other` answers it.
Responder register_bridge(std::vector<uint8_t> inquiry, std::map<uint32_t, uint32_t> memory,
                          Responder other = nullptr);

// A reply carrying the 32-bit little-endian word `value`.
Reply word_reply(uint32_t value);
// A CHECK CONDITION with fixed-format sense data.
Reply check_condition(uint8_t sense_key, uint8_t asc, uint8_t ascq);

// The allocation of the `n`-th `new (std::nothrow)` from now on fails; 0 off.
void fail_nothrow_new(long n);

}  // namespace vtx::test
