// Shared helpers of the test programs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/sim.h"

namespace vtx::test {

// A fresh directory, removed with everything in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    std::string write(const std::string& name, const std::string& text) const;
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const;

  private:
    std::filesystem::path path_;
};

std::vector<uint8_t> read_file(const std::string& path);
std::string read_text(const std::string& path);

// A stream whose contents a test reads back: a temporary file.
class CapturedStream {
  public:
    CapturedStream();
    ~CapturedStream();
    CapturedStream(const CapturedStream&) = delete;
    CapturedStream& operator=(const CapturedStream&) = delete;

    std::FILE* get() const { return file_; }
    std::string text() const;

  private:
    std::FILE* file_;
};

// An input stream that holds `text`.
class InputStream {
  public:
    explicit InputStream(const std::string& text);
    ~InputStream();
    InputStream(const InputStream&) = delete;
    InputStream& operator=(const InputStream&) = delete;

    std::FILE* get() const { return file_; }

  private:
    std::FILE* file_;
};

// An argument vector, `args` then `more`, ending in a null pointer, that
// lives as long as the object.
class Args {
  public:
    explicit Args(std::vector<std::string> args, const std::vector<std::string>& more = {})
        : args_(std::move(args)) {
        args_.insert(args_.end(), more.begin(), more.end());
        for (std::string& arg : args_)
            pointers_.push_back(arg.data());
        pointers_.push_back(nullptr);
    }
    int argc() const { return int(args_.size()); }
    char** argv() { return pointers_.data(); }

  private:
    std::vector<std::string> args_;
    std::vector<char*> pointers_;
};

// A simulated platform installed as the process's platform for the lifetime
// of the object.
class SimInstalled {
  public:
    SimInstalled();
    ~SimInstalled();
    SimInstalled(const SimInstalled&) = delete;
    SimInstalled& operator=(const SimInstalled&) = delete;

    sim::SimPlatform& sim() { return sim_; }
    sim::SimPlatform* operator->() { return &sim_; }

  private:
    sim::SimPlatform sim_;
};

// A bridge of this chip and revision whose INQUIRY names the register block
// of its family: the first chips' strings for the 0xA001 chips.
sim::BridgeConfig bridge_of_chip(uint32_t chip_id, uint32_t chip_rev = 10);

// Commands with this opcode and sub-command (-1: any): after `skip` that
// pass, `count` (-1: all) end in CHECK CONDITION (illegal request, invalid
// field in the CDB), or fail in the platform call with `platform_error`.
sim::CommandFault failing(int opcode, int sub_command, long skip = 0, long count = 1,
                          int platform_error = 0);
// The command with global index `index` ends in CHECK CONDITION.
sim::CommandFault failing_at(long index);

// Commands of the trace with this opcode (and vendor sub-command, CDB byte
// 4, unless -1).
std::vector<sim::TraceEntry> commands(const sim::SimPlatform& sim, int opcode,
                                      int sub_command = -1);
// Flash writes in the trace: the data-write commands, each with the address
// set before it.
struct FlashWrite {
    uint32_t address;
    uint32_t length;
};
std::vector<FlashWrite> flash_writes(const sim::SimPlatform& sim);

// The CDB bytes as "E2 00 00 ..." for readable failure messages.
std::string hex(const uint8_t* bytes, size_t n);

}  // namespace vtx::test
