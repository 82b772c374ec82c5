#include "tests/device/fake_platform.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "vtx/bytes.h"

namespace vtx::test {

void FakePlatform::add_device(const std::string& path, Responder respond, bool usb) {
    devices_[path] = Device{std::move(respond), usb};
}

OsHandle FakePlatform::open_device(const char* path) {
    if (!devices_.count(path)) {
        last_error_ = 2;
        return INVALID_OS_HANDLE;
    }
    ++opens;
    const OsHandle handle = next_handle_++;
    handles_[handle] = path;
    open_handles.insert(handle);
    return handle;
}

bool FakePlatform::close_device(OsHandle handle) {
    ++closes;
    open_handles.erase(handle);
    if (close_fails) {
        last_error_ = 6;
        return false;
    }
    return true;
}

bool FakePlatform::pass_through(OsHandle handle, ScsiCommand& command) {
    SentCommand entry;
    entry.device = handles_.count(handle) ? handles_[handle] : "";
    std::copy_n(command.cdb, 16, entry.cdb);
    entry.data = command.data;
    entry.length = command.length;
    entry.data_in = command.data_in;
    entry.timeout_s = command.timeout_s;
    if (!command.data_in && command.data) {
        const auto* bytes = static_cast<const uint8_t*>(command.data);
        entry.data_out.assign(bytes, bytes + command.length);
    }
    sent.push_back(entry);

    const auto device = devices_.find(entry.device);
    const Reply reply = device == devices_.end() ? Reply{} : device->second.respond(entry);
    if (command.data_in && command.data) {
        const size_t n = std::min<size_t>(reply.data.size(), command.length);
        std::copy_n(reply.data.begin(), n, static_cast<uint8_t*>(command.data));
    }
    std::copy_n(reply.sense.begin(), std::min<size_t>(reply.sense.size(), 32), command.sense);
    command.scsi_status = reply.status;
    if (!reply.call_ok)
        last_error_ = reply.error;
    return reply.call_ok;
}

std::string FakePlatform::candidate_path(int pass, int index) {
    if (pass < 0 || pass > 1 || index < 0 || size_t(index) >= candidates[pass].size())
        return {};
    return candidates[pass][size_t(index)];
}

bool FakePlatform::is_usb(OsHandle handle) {
    const auto device = devices_.find(handles_[handle]);
    return device != devices_.end() && device->second.usb;
}

FakeInstalled::FakeInstalled() {
    platform_install(&fake_);
}

FakeInstalled::~FakeInstalled() {
    platform_install(nullptr);
}

std::vector<uint8_t> inquiry_data(const std::string& revision, const std::string& model,
                                  uint8_t device_type, const std::string& vendor,
                                  const std::string& product) {
    std::vector<uint8_t> data(254, 0);
    data[0] = device_type;
    std::copy_n(vendor.begin(), std::min<size_t>(vendor.size(), 8), data.begin() + 8);
    std::copy_n(product.begin(), std::min<size_t>(product.size(), 16), data.begin() + 16);
    std::copy_n(revision.begin(), std::min<size_t>(revision.size(), 4), data.begin() + 32);
    std::copy_n(model.begin(), std::min<size_t>(model.size(), 8), data.begin() + 44);
    return data;
}

Responder register_bridge(std::vector<uint8_t> inquiry, std::map<uint32_t, uint32_t> memory,
                          Responder other) {
    return [inquiry, memory, other](const SentCommand& command) {
        if (command.cdb[0] == 0x12)
            return Reply{true, 0, 0, inquiry, {}};
        if (command.cdb[0] == 0xE2 && command.cdb[4] == 0x92) {
            const auto word = memory.find(load_le32(command.cdb + 8));
            if (word != memory.end())
                return word_reply(word->second);
        }
        return other ? other(command) : Reply{};
    };
}

Reply word_reply(uint32_t value) {
    Reply reply;
    reply.data.resize(4);
    store_le32(reply.data.data(), value);
    return reply;
}

Reply check_condition(uint8_t sense_key, uint8_t asc, uint8_t ascq) {
    Reply reply;
    reply.status = 2;
    reply.sense.assign(18, 0);
    reply.sense[0] = 0x70;
    reply.sense[2] = sense_key;
    reply.sense[7] = 10;
    reply.sense[12] = asc;
    reply.sense[13] = ascq;
    return reply;
}

namespace {
long nothrow_countdown = 0;
}

void fail_nothrow_new(long n) {
    nothrow_countdown = n;
}

}  // namespace vtx::test

// The non-throwing allocation form, replaced for this program so a test can
// make the n-th one fail. Everything else allocates as usual; the memory is
// released by the ordinary operator delete, which frees what malloc gave.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (vtx::test::nothrow_countdown > 0 && --vtx::test::nothrow_countdown == 0)
        return nullptr;
    return std::malloc(size ? size : 1);
}
