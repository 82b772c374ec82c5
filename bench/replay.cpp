#include "bench/replay.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "bench/heap_counter.h"
#include "vtx/file.h"

namespace vtx::bench {

Reply& RecordingSim::add(Call call) {
    recording.replies.emplace_back();
    recording.replies.back().call = call;
    return recording.replies.back();
}

OsHandle RecordingSim::open_device(const char* path) {
    InPlatform sim;
    OsHandle handle = SimPlatform::open_device(path);
    add(Call::OPEN).result = handle;
    return handle;
}

bool RecordingSim::close_device(OsHandle handle) {
    InPlatform sim;
    bool ok = SimPlatform::close_device(handle);
    add(Call::CLOSE).result = ok;
    return ok;
}

bool RecordingSim::pass_through(OsHandle handle, ScsiCommand& command) {
    InPlatform sim;
    recording.general_failure = general_failure_code();
    bool ok = SimPlatform::pass_through(handle, command);
    Reply& reply = add(Call::PASS_THROUGH);
    reply.result = ok;
    std::copy_n(command.cdb, sizeof reply.cdb, reply.cdb);
    reply.length = command.length;
    reply.data_in = command.data_in;
    reply.scsi_status = command.scsi_status;
    std::copy_n(command.sense, sizeof reply.sense, reply.sense);
    if (command.data_in && command.length != 0) {
        const auto* bytes = static_cast<const uint8_t*>(command.data);
        reply.data.assign(bytes, bytes + command.length);
    }
    ++recording.commands;
    recording.command_bytes += command.length;
    return ok;
}

int RecordingSim::last_error() {
    InPlatform sim;
    int error = SimPlatform::last_error();
    add(Call::LAST_ERROR).result = error;
    return error;
}

std::string RecordingSim::candidate_path(int pass, int index) {
    InPlatform sim;
    std::string path = SimPlatform::candidate_path(pass, index);
    add(Call::CANDIDATE).path = path;
    return path;
}

bool RecordingSim::is_usb(OsHandle handle) {
    InPlatform sim;
    bool usb = SimPlatform::is_usb(handle);
    add(Call::IS_USB).result = usb;
    return usb;
}

void RecordingSim::pause_ms(unsigned milliseconds) {
    InPlatform sim;
    SimPlatform::pause_ms(milliseconds);
    add(Call::PAUSE);
}

double RecordingSim::monotonic_seconds() {
    InPlatform sim;
    double now = SimPlatform::monotonic_seconds();
    add(Call::CLOCK).seconds = now;
    return now;
}

const Reply* ReplayPlatform::take(Call call) {
    if (astray_ || next_ == recording_.replies.size() || recording_.replies[next_].call != call) {
        astray_ = true;
        return nullptr;
    }
    return &recording_.replies[next_++];
}

OsHandle ReplayPlatform::open_device(const char*) {
    const Reply* reply = take(Call::OPEN);
    return reply ? OsHandle(reply->result) : INVALID_OS_HANDLE;
}

bool ReplayPlatform::close_device(OsHandle) {
    const Reply* reply = take(Call::CLOSE);
    return reply && reply->result != 0;
}

bool ReplayPlatform::pass_through(OsHandle, ScsiCommand& command) {
    const Reply* reply = take(Call::PASS_THROUGH);
    if (reply && (std::memcmp(reply->cdb, command.cdb, sizeof reply->cdb) != 0 ||
                  reply->length != command.length || reply->data_in != command.data_in))
        astray_ = true;
    if (astray_)
        return false;
    if (!reply->data.empty())
        std::memcpy(command.data, reply->data.data(), reply->data.size());
    command.scsi_status = reply->scsi_status;
    std::copy_n(reply->sense, sizeof command.sense, command.sense);
    return reply->result != 0;
}

int ReplayPlatform::last_error() {
    const Reply* reply = take(Call::LAST_ERROR);
    return reply ? int(reply->result) : 0;
}

std::string ReplayPlatform::candidate_path(int, int) {
    const Reply* reply = take(Call::CANDIDATE);
    InPlatform copy;  // the platform's string, as the simulation's would be
    return reply ? reply->path : std::string();
}

bool ReplayPlatform::is_usb(OsHandle) {
    const Reply* reply = take(Call::IS_USB);
    return reply && reply->result != 0;
}

void ReplayPlatform::pause_ms(unsigned) {
    take(Call::PAUSE);
}

double ReplayPlatform::monotonic_seconds() {
    const Reply* reply = take(Call::CLOCK);
    return reply ? reply->seconds : 0;
}

namespace {

template <typename T>
bool put(std::FILE* file, const T& value) {
    return std::fwrite(&value, sizeof value, 1, file) == 1;
}
template <typename T>
bool get(std::FILE* file, T& value) {
    return std::fread(&value, sizeof value, 1, file) == 1;
}
bool put_bytes(std::FILE* file, const void* bytes, uint64_t size) {
    return put(file, size) && (size == 0 || std::fwrite(bytes, size, 1, file) == 1);
}
template <typename Bytes>
bool get_bytes(std::FILE* file, Bytes& bytes) {
    uint64_t size = 0;
    if (!get(file, size) || size > (uint64_t(1) << 26))
        return false;
    bytes.resize(size);
    return size == 0 || std::fread(bytes.data(), size, 1, file) == 1;
}

}  // namespace

// Native byte order and layout: the file is read back by the same program.
bool save_recording(const Recording& recording, const std::string& path) {
    File file(std::fopen(path.c_str(), "wb"));
    bool ok = file && put(file.get(), recording.general_failure) &&
              put(file.get(), recording.commands) && put(file.get(), recording.command_bytes) &&
              put(file.get(), uint64_t(recording.replies.size()));
    for (const Reply& r : recording.replies) {
        ok = ok && put(file.get(), r.call) && put(file.get(), r.result) &&
             put(file.get(), r.seconds) && put_bytes(file.get(), r.path.data(), r.path.size()) &&
             put(file.get(), r.cdb) && put(file.get(), r.length) && put(file.get(), r.data_in) &&
             put(file.get(), r.scsi_status) && put(file.get(), r.sense) &&
             put_bytes(file.get(), r.data.data(), r.data.size());
    }
    return ok && std::fflush(file.get()) == 0;
}

bool load_recording(const std::string& path, Recording& recording) {
    File file(std::fopen(path.c_str(), "rb"));
    uint64_t count = 0;
    if (!file || !get(file.get(), recording.general_failure) ||
        !get(file.get(), recording.commands) || !get(file.get(), recording.command_bytes) ||
        !get(file.get(), count) || count > 1000000)
        return false;
    recording.replies.assign(count, Reply{});
    for (Reply& r : recording.replies) {
        if (!get(file.get(), r.call) || !get(file.get(), r.result) || !get(file.get(), r.seconds) ||
            !get_bytes(file.get(), r.path) || !get(file.get(), r.cdb) ||
            !get(file.get(), r.length) || !get(file.get(), r.data_in) ||
            !get(file.get(), r.scsi_status) || !get(file.get(), r.sense) ||
            !get_bytes(file.get(), r.data))
            return false;
    }
    return true;
}

}  // namespace vtx::bench
