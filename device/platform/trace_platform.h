// A trace of every exchange with a device, for support: a Platform that
// forwards each call to the layer beneath it and writes one text line per
// device operation (open, bus query, close, pass-through command, pause).
// Because it sits on the seam, the Windows, Linux and simulated layers are
// traced alike without a change of their own. The line format is stable and
// documented in docs/trace.md.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "device/platform/platform.h"

namespace vtx {

// Where the lines go. Each call gets one whole line without its line feed.
class TraceSink {
  public:
    virtual ~TraceSink() = default;
    virtual void line(const std::string& text) = 0;
};

// What the header says about the run.
struct TraceHeader {
    std::string program;  // name without directory
    std::string version;
    std::vector<std::string> arguments;  // after the program name
};

// How many data bytes each record shows, each way.
constexpr unsigned TRACE_DATA_BYTES = 16;

class TracePlatform : public Platform {
  public:
    // Writes the header at once; `inner` and `sink` outlive this object.
    TracePlatform(Platform& inner, TraceSink& sink, const TraceHeader& header);

    OsHandle open_device(const char* path) override;
    bool close_device(OsHandle handle) override;
    bool pass_through(OsHandle handle, ScsiCommand& command) override;
    int last_error() override { return inner_.last_error(); }
    int general_failure_code() const override { return inner_.general_failure_code(); }
    std::string candidate_path(int pass, int index) override {
        return inner_.candidate_path(pass, index);
    }
    bool is_usb(OsHandle handle) override;
    void pause_ms(unsigned milliseconds) override;
    double monotonic_seconds() override { return inner_.monotonic_seconds(); }
    std::string executable_path() override { return inner_.executable_path(); }
    char path_separator() const override { return inner_.path_separator(); }
    bool is_elevated() override { return inner_.is_elevated(); }
    int relaunch_elevated(int argc, char** argv, std::string& failure) override {
        return inner_.relaunch_elevated(argc, argv, failure);
    }
    bool is_terminal(std::FILE* stream) override { return inner_.is_terminal(stream); }

  private:
    std::string prefix(double start, OsHandle handle) const;
    std::string path_of(OsHandle handle) const;

    Platform& inner_;
    TraceSink& sink_;
    double origin_;
    std::map<OsHandle, std::string> paths_;
};

// How a traced run went.
struct TracedRun {
    bool ran = false;   // false: the trace file could not be made, and nothing ran
    int code = 0;       // what the run returned
    std::string error;  // why the trace file could not be made or finished; "" once written
};

// Runs `run` with every call to the installed platform traced into the file
// at `path`, and installs that platform again afterwards. The lines go to a
// new file beside `path`, which replaces an old one only once the run is done.
TracedRun run_traced(const std::string& path, const TraceHeader& header,
                     const std::function<int()>& run);

// A text with every byte outside printable ASCII, every blank and every '%'
// written as %HH, so one field of a line never holds a blank.
std::string trace_word(const std::string& text);

// "windows" or "linux": the system this build runs on.
const char* trace_system_name();

}  // namespace vtx
