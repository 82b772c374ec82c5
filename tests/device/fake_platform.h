// A small scripted platform for the transport and query tests: every device
// answers through a function the test gives, and every command is recorded
// with the exact buffer address the platform received. ScriptedDrive opens
// one such drive at a time for a test.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "device/transport.h"
#include "sim/sim.h"
#include "vtx/bytes.h"
#include "vtx/testing/buffer_hooks.h"

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
    uint32_t residual = 0;       // bytes of the length the device did not move
};

using Responder = std::function<Reply(const SentCommand&)>;

// The simulated platform's clock and process side, with devices of its own.
class FakePlatform : public sim::SimPlatform {
  public:
    void add_device(const std::string& path, Responder respond) { devices_[path] = respond; }
    // The paths candidate_path gives for pass 0 and pass 1, by index.
    std::vector<std::string> candidates[2];
    std::vector<SentCommand> sent;
    int opens = 0, closes = 0;
    bool close_fails = false;
    int general_failure = 31;  // the one error dev_send retries
    std::set<OsHandle> open_handles;

    OsHandle open_device(const char* path) override {
        if (!devices_.count(path)) {
            last_error_ = 2;
            return INVALID_OS_HANDLE;
        }
        ++opens;
        handles_[next_handle_] = path;
        open_handles.insert(next_handle_);
        return next_handle_++;
    }
    bool close_device(OsHandle handle) override {
        ++closes;
        open_handles.erase(handle);
        if (close_fails)
            last_error_ = 6;
        return !close_fails;
    }
    bool pass_through(OsHandle handle, ScsiCommand& command) override {
        SentCommand entry{handles_[handle],  {}, command.data, command.length, command.data_in,
                          command.timeout_s, {}};
        std::copy_n(command.cdb, 16, entry.cdb);
        const auto* bytes = static_cast<const uint8_t*>(command.data);
        if (!command.data_in && bytes)
            entry.data_out.assign(bytes, bytes + command.length);
        sent.push_back(entry);
        const Reply reply = devices_[entry.device] ? devices_[entry.device](entry) : Reply{};
        if (command.data_in && command.data) {
            std::copy_n(reply.data.begin(), std::min<size_t>(reply.data.size(), command.length),
                        static_cast<uint8_t*>(command.data));
        }
        std::copy_n(reply.sense.begin(), std::min<size_t>(reply.sense.size(), 32), command.sense);
        command.scsi_status = reply.status;
        command.residual = reply.residual;
        if (!reply.call_ok)
            last_error_ = reply.error;
        return reply.call_ok;
    }
    int last_error() override { return last_error_; }
    int general_failure_code() const override { return general_failure; }
    std::string candidate_path(int pass, int index) override {
        const bool listed =
            pass >= 0 && pass <= 1 && index >= 0 && size_t(index) < candidates[pass].size();
        return listed ? candidates[pass][size_t(index)] : "";
    }
    bool is_usb(OsHandle) override { return true; }

  private:
    std::map<std::string, Responder> devices_;
    std::map<OsHandle, std::string> handles_;
    OsHandle next_handle_ = 100;
    int last_error_ = 0;
};

// 254 bytes of INQUIRY data: device type, vendor (8), product (16), revision
// (4) and the chip model string at byte 44 (8, zero-filled after).
inline std::vector<uint8_t> inquiry_data(const std::string& revision, const std::string& model,
                                         uint8_t device_type = 0,
                                         const std::string& vendor = "Vantrex ",
                                         const std::string& product = "USB Bridge      ") {
    std::vector<uint8_t> data(254, 0);
    data[0] = device_type;
    auto put = [&data](size_t at, size_t size, const std::string& text) {
        std::copy_n(text.begin(), std::min(text.size(), size), data.begin() + long(at));
    };
    put(8, 8, vendor);
    put(16, 16, product);
    put(32, 4, revision);
    put(44, 8, model);
    return data;
}

// A reply carrying the 32-bit little-endian word `value`.
inline Reply word_reply(uint32_t value) {
    Reply reply;
    reply.data.resize(4);
    store_le32(reply.data.data(), value);
    return reply;
}

// A CHECK CONDITION with fixed-format sense data.
inline Reply check_condition(uint8_t sense_key, uint8_t asc, uint8_t ascq) {
    return Reply{
        true, 0, 2, {}, {0x70, 0, sense_key, 0, 0, 0, 0, 10, 0, 0, 0, 0, asc, ascq, 0, 0, 0, 0}};
}

// A bridge that answers INQUIRY with `inquiry` and memory reads (0xE2, 0x92)
// from the 32-bit little-endian words of `memory`; every other command
// completes with no data, unless `other` answers it.
inline Responder register_bridge(std::vector<uint8_t> inquiry, std::map<uint32_t, uint32_t> memory,
                                 Responder other = nullptr) {
    return [inquiry, memory, other](const SentCommand& command) {
        if (command.cdb[0] == 0x12)
            return Reply{true, 0, 0, inquiry, {}};
        const auto word = memory.find(load_le32(command.cdb + 8));
        if (command.cdb[0] == 0xE2 && command.cdb[4] == 0x92 && word != memory.end())
            return word_reply(word->second);
        return other ? other(command) : Reply{};
    };
}

// The allocation of the `n`-th `new (std::nothrow)` from now on fails; 0 off.
void fail_nothrow_new(long n);

constexpr const char* DRIVE = "\\\\.\\PhysicalDrive1";

class ScriptedDrive : public ::testing::Test {
  protected:
    ScriptedDrive() { platform_install(&platform_); }
    ~ScriptedDrive() override { platform_install(nullptr); }
    void TearDown() override {
        dev_close(handle);
        buffer_fail_allocation(0);
        fail_nothrow_new(0);
    }
    // Closes the drive opened before, if any, and opens one that answers
    // through `respond`, with an empty record of commands.
    DeviceHandle* reopen(Responder respond) {
        dev_close(handle);
        fake->add_device(DRIVE, std::move(respond));
        handle = dev_open(DRIVE);
        fake->sent.clear();
        return handle;
    }
    int count(uint8_t opcode, int sub = -1) {
        return int(std::count_if(fake->sent.begin(), fake->sent.end(), [&](const SentCommand& c) {
            return c.cdb[0] == opcode && (sub < 0 || c.cdb[4] == sub);
        }));
    }

    FakePlatform platform_;
    FakePlatform* fake = &platform_;
    DeviceHandle* handle = nullptr;
};

}  // namespace vtx::test
