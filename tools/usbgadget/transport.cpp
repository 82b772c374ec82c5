#include "tools/usbgadget/transport.h"

#include <linux/usb/functionfs.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "tools/usbgadget/bot.h"
#include "vtx/bytes.h"

namespace vtx::gadget {
namespace {

static_assert(INTERRUPT_SIGNAL == SIGUSR1);

constexpr size_t EVENT_SIZE = 12;  // struct usb_functionfs_event
constexpr size_t CHUNK = 16384;    // a multiple of every bulk packet size

bool read_exact(int fd, uint8_t* data, size_t length) {
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::read(fd, data + done, std::min(CHUNK, length - done));
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

bool write_exact(int fd, const uint8_t* data, size_t length) {
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::write(fd, data + done, std::min(CHUNK, length - done));
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

uint8_t csw_status(Status status) {
    switch (status) {
        case Status::kGood:
            return CSW_GOOD;
        case Status::kCheckCondition:
            return CSW_FAILED;
        default:
            return CSW_PHASE_ERROR;
    }
}

}  // namespace

BulkOnlyTransport::BulkOnlyTransport(FunctionFs& function, ScsiTarget& target, TransportHooks hooks)
    : function_(function), target_(target), hooks_(std::move(hooks)) {}

BulkOnlyTransport::~BulkOnlyTransport() {
    stop();
}

void BulkOnlyTransport::start() {
    control_ = std::thread([this] {
        control_loop();
        control_done_ = true;
    });
    command_ = std::thread([this] {
        command_loop();
        command_done_ = true;
    });
}

void BulkOnlyTransport::stop() {
    stopping_ = true;
    changed_.notify_all();
    // A thread may be about to block when the first signal lands, so keep
    // knocking until both are out.
    while ((control_.joinable() && !control_done_) || (command_.joinable() && !command_done_)) {
        if (control_.joinable() && !control_done_)
            pthread_kill(control_.native_handle(), SIGUSR1);
        if (command_.joinable() && !command_done_)
            pthread_kill(command_.native_handle(), SIGUSR1);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        changed_.notify_all();
    }
    if (control_.joinable())
        control_.join();
    if (command_.joinable())
        command_.join();
}

void BulkOnlyTransport::note_reset(bool disabled) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++resets_;
        if (disabled)
            enabled_ = false;
    }
    changed_.notify_all();
    // Endpoint I/O left waiting across a reset belongs to a command the host
    // has given up on.
    if (command_.joinable())
        pthread_kill(command_.native_handle(), SIGUSR1);
}

void BulkOnlyTransport::control_loop() {
    uint8_t events[EVENT_SIZE * 4];
    while (!stopping_) {
        ssize_t n = ::read(function_.ep0(), events, sizeof events);
        if (n <= 0)
            continue;  // interrupted, or a setup the host cancelled
        for (size_t i = 0; i + EVENT_SIZE <= size_t(n); i += EVENT_SIZE) {
            const uint8_t* event = events + i;
            switch (event[8]) {
                case FUNCTIONFS_ENABLE: {
                    std::lock_guard<std::mutex> lock(mutex_);
                    enabled_ = true;
                    changed_.notify_all();
                    break;
                }
                case FUNCTIONFS_DISABLE:
                case FUNCTIONFS_UNBIND:
                    std::fprintf(stderr, "vtx_usbgadget: %s\n",
                                 event[8] == FUNCTIONFS_DISABLE ? "disabled" : "unbound");
                    note_reset(true);
                    break;
                case FUNCTIONFS_SETUP:
                    answer_setup(event);
                    break;
                default:
                    break;
            }
        }
    }
}

void BulkOnlyTransport::answer_setup(const uint8_t* setup) {
    const uint8_t request_type = setup[0];
    const uint8_t request = setup[1];
    const uint16_t length = load_le16(setup + 6);
    const bool to_host = (request_type & 0x80) != 0;
    const bool class_interface = (request_type & 0x7F) == 0x21;
    uint8_t byte = 0;
    if (class_interface && request == REQUEST_GET_MAX_LUN && to_host && length >= 1) {
        std::fprintf(stderr, "vtx_usbgadget: GET MAX LUN\n");
        (void)::write(function_.ep0(), &byte, 1);  // one logical unit: LUN 0
    } else if (class_interface && request == REQUEST_MASS_STORAGE_RESET && !to_host &&
               length == 0) {
        std::fprintf(stderr, "vtx_usbgadget: Bulk-Only Mass Storage Reset\n");
        note_reset(false);
        (void)::read(function_.ep0(), &byte, 0);  // status stage
    } else if (to_host) {
        (void)::read(function_.ep0(), &byte, 0);  // wrong direction: stall
    } else {
        (void)::write(function_.ep0(), &byte, 0);
    }
}

bool BulkOnlyTransport::wait_enabled(uint64_t& resets) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return enabled_ || stopping_; });
    resets = resets_;
    return !stopping_;
}

void BulkOnlyTransport::wait_reset(uint64_t resets) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return resets_ != resets || stopping_; });
}

// Doing I/O against an endpoint's direction makes FunctionFS halt it.
void BulkOnlyTransport::halt_in() {
    uint8_t byte = 0;
    (void)::read(function_.bulk_in(), &byte, 1);
}

void BulkOnlyTransport::halt_out() {
    uint8_t byte = 0;
    (void)::write(function_.bulk_out(), &byte, 1);
}

void BulkOnlyTransport::command_loop() {
    std::vector<uint8_t> buffer(512);
    uint64_t resets = 0;
    while (wait_enabled(resets)) {
        ssize_t n = ::read(function_.bulk_out(), buffer.data(), buffer.size());
        if (n <= 0)
            continue;  // reset, disable or unbind: start over with a fresh CBW
        run_command(buffer.data(), size_t(n), resets);
    }
}

void BulkOnlyTransport::run_command(const uint8_t* bytes, size_t length, uint64_t resets) {
    CommandBlockWrapper cbw;
    if (!parse_cbw(bytes, length, cbw)) {
        // An invalid CBW leaves both pipes halted until the host resets us.
        halt_in();
        halt_out();
        wait_reset(resets);
        return;
    }
    Command command;
    std::copy(cbw.cdb, cbw.cdb + 16, command.cdb);
    command.cdb_length = cbw.cdb_length;
    command.data_in = cbw.data_in;
    command.length = cbw.transfer_length;
    if (!command.data_in && command.length > 0) {
        command.data_out.assign(command.length, 0);
        if (!read_exact(function_.bulk_out(), command.data_out.data(), command.length))
            return;
    }
    Reply reply = target_.execute(command);
    if (hooks_.trace)
        hooks_.trace(command, reply);
    if (reply.status == Status::kSwallowed) {
        wait_reset(resets);
        return;
    }
    uint32_t residue = 0;
    if (command.data_in && command.length > 0) {
        size_t sent = reply.status == Status::kGood ? reply.data.size() : 0;
        if (sent > 0 && !write_exact(function_.bulk_in(), reply.data.data(), sent))
            return;
        // A short packet ends the data phase by itself; a transfer that ends
        // on a packet boundary needs a stall to end early.
        if (sent < command.length && sent % SMALLEST_BULK_PACKET == 0)
            halt_in();
        residue = command.length - uint32_t(sent);
    } else if (reply.status != Status::kGood) {
        residue = command.length;
    }
    uint8_t csw[CSW_SIZE];
    build_csw(csw, cbw.tag, residue, csw_status(reply.status));
    if (!write_exact(function_.bulk_in(), csw, CSW_SIZE))
        return;
    if (reply.leaves_bus && hooks_.restart)
        hooks_.restart();
}

}  // namespace vtx::gadget
