// The SCSI side of the gadget. The commands the kernel sends on its own
// (TEST UNIT READY, REQUEST SENSE, READ CAPACITY, MODE SENSE, reads of a small
// blank medium, vital product data) are answered here; every other command
// goes to the backend, which for a bridge is the simulated bridge itself.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vtx::gadget {

using SenseData = std::array<uint8_t, 18>;  // fixed format

// Fixed-format sense data with one key and additional sense code.
SenseData make_sense(uint8_t key, uint8_t asc, uint8_t ascq);

enum class Status {
    kGood,
    kCheckCondition,
    kPhaseError,  // the transport itself failed: the host must reset us
    kSwallowed,   // no data, no status: the host times out and resets us
};

struct Reply {
    Status status = Status::kGood;
    std::vector<uint8_t> data;  // data-in bytes, at most the host's length
    SenseData sense{};          // for kCheckCondition
    bool leaves_bus = false;    // the device restarts after this command's status
};

// One command as the gadget received it.
struct Command {
    uint8_t cdb[16] = {};
    uint8_t cdb_length = 0;
    bool data_in = false;
    uint32_t length = 0;            // the host's transfer length
    std::vector<uint8_t> data_out;  // data-out bytes, `length` of them
};

// Where the commands the gadget does not answer itself go.
class Backend {
  public:
    virtual ~Backend() = default;
    virtual Reply execute(const Command& command) = 0;
};

// What the gadget presents apart from the backend: the medium that the
// kernel's own commands see, and (without a backend) the standard INQUIRY.
struct Medium {
    uint8_t device_type = 0;  // 0 disk, 5 optical
    uint32_t block_length = 512;
    uint32_t block_count = 16384;
    std::string vendor = "Generic ";           // 8 characters
    std::string product = "Flash Disk      ";  // 16
    std::string revision = "8.07";             // 4
    std::string serial = "VTX0000000001";
};

class ScsiTarget {
  public:
    // `backend` may be null: every command the target does not know then
    // fails with ILLEGAL REQUEST.
    ScsiTarget(Medium medium, Backend* backend);

    Reply execute(const Command& command);

  private:
    Reply local(const Command& command, bool& handled);
    Reply inquiry(const Command& command);
    Reply vital_product_data(const Command& command);
    Reply read_capacity(const Command& command, bool long_form);
    Reply mode_sense(const Command& command, bool ten_byte);
    Reply read_blocks(const Command& command);
    Reply request_sense(const Command& command);

    Medium medium_;
    Backend* backend_;
    SenseData last_sense_;
};

// Cuts a reply to the host's transfer length and to an allocation length.
void fit_reply(Reply& reply, uint32_t host_length, uint32_t allocation_length);

}  // namespace vtx::gadget
