// The simulated bridge behind the gadget: the same emulator the tests drive,
// reached through its platform interface, with its state (configuration and
// flash) kept in a file so that every write outlives the gadget process.
#pragma once

#include <string>

#include "sim/sim.h"
#include "tools/usbgadget/scsi_target.h"

namespace vtx::gadget {

class SimBackend : public Backend {
  public:
    // Loads the state file and opens the one bridge it holds. When the state
    // file does not exist yet and a description is given, the bridge starts
    // from the description and its state goes to the state file from then
    // on. False with a reason.
    bool open(const std::string& state_path, const std::string& description_path,
              std::string& error);
    // Makes the bridge swallow matching commands (no reply: the host times
    // out). `recipe` is OPCODE[:SUB[:SKIP[:COUNT]]], hexadecimal opcode and
    // sub-command, decimal counts.
    bool add_swallow(const std::string& recipe, std::string& error);

    Reply execute(const Command& command) override;

    // What the kernel's own commands see of the bridge.
    bool optical() const;
    // Seconds off the bus after a restart; negative: it never comes back.
    double boot_seconds() const;
    // After the gadget has stayed off the bus for boot_seconds(): lets the
    // bridge boot and opens it again.
    bool come_back(std::string& error);
    bool save() const;

  private:
    std::string state_path_;
    sim::SimPlatform sim_;
    sim::Bridge* bridge_ = nullptr;
    OsHandle handle_ = INVALID_OS_HANDLE;
};

}  // namespace vtx::gadget
