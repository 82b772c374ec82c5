// The Bulk-Only Transport: one thread answers ep0 (FunctionFS events,
// GET MAX LUN, Bulk-Only Mass Storage Reset), another runs the command loop
// on the bulk endpoints (CBW, data phase, CSW).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "tools/usbgadget/ffs_function.h"
#include "tools/usbgadget/scsi_target.h"

namespace vtx::gadget {

struct TransportHooks {
    // After the status of a command whose reply leaves the bus: take the
    // device off the bus and bring it back. Runs on the command thread.
    std::function<void()> restart;
    // Every command with its reply, for the command log.
    std::function<void(const Command&, const Reply&)> trace;
};

// The signal that interrupts a thread blocked in endpoint I/O; its handler
// must be installed (without SA_RESTART) before start().
constexpr int INTERRUPT_SIGNAL = 10;  // SIGUSR1

class BulkOnlyTransport {
  public:
    BulkOnlyTransport(FunctionFs& function, ScsiTarget& target, TransportHooks hooks);
    ~BulkOnlyTransport();

    void start();
    // Interrupts both threads and waits for them.
    void stop();
    bool stopping() const { return stopping_; }

  private:
    void control_loop();
    void answer_setup(const uint8_t* setup);
    void command_loop();
    void run_command(const uint8_t* bytes, size_t length, uint64_t resets);
    bool wait_enabled(uint64_t& resets);
    void wait_reset(uint64_t resets);
    void note_reset(bool disabled);
    void halt_in();
    void halt_out();

    FunctionFs& function_;
    ScsiTarget& target_;
    TransportHooks hooks_;

    std::mutex mutex_;
    std::condition_variable changed_;
    bool enabled_ = false;
    uint64_t resets_ = 0;  // bumped by every reset, disable and unbind
    std::atomic<bool> stopping_{false};
    std::atomic<bool> control_done_{false};
    std::atomic<bool> command_done_{false};
    std::thread control_;
    std::thread command_;
};

}  // namespace vtx::gadget
