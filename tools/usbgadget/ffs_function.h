// The FunctionFS side of the gadget: the mass-storage interface's
// descriptors and strings written to ep0, and the two bulk endpoint files
// that appear once they are.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vtx::gadget {

// Interface class 0x08 (mass storage), subclass 0x06 (SCSI transparent
// command set), protocol 0x50 (Bulk-Only), with a bulk-in endpoint (ep1) and
// a bulk-out endpoint (ep2), for full and high speed.
std::vector<uint8_t> mass_storage_descriptors();
std::vector<uint8_t> mass_storage_strings();

// The smallest packet size either speed uses; a data-in phase that ends on a
// multiple of it needs a stall to end early.
constexpr uint32_t SMALLEST_BULK_PACKET = 64;

class FunctionFs {
  public:
    FunctionFs() = default;
    ~FunctionFs();
    FunctionFs(const FunctionFs&) = delete;
    FunctionFs& operator=(const FunctionFs&) = delete;

    // Opens ep0 under `mount`, writes descriptors and strings, opens the
    // endpoint files. False with a reason.
    bool open(const std::string& mount, std::string& error);
    void close();

    int ep0() const { return ep0_; }
    int bulk_in() const { return in_; }
    int bulk_out() const { return out_; }

  private:
    int ep0_ = -1;
    int in_ = -1;
    int out_ = -1;
};

}  // namespace vtx::gadget
