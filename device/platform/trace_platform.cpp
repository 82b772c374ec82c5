#include "device/platform/trace_platform.h"

#include <cstdio>

#include "tools/outfile/growing_file.h"
#include "vtx/records.h"

namespace vtx {

namespace {

std::string hex_of(const uint8_t* data, std::size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 15];
    }
    return text;
}

// The first bytes of a buffer, "+" when there are more, "-" for none.
std::string data_field(const void* data, uint32_t length) {
    if (data == nullptr || length == 0)
        return "-";
    uint32_t shown = length < TRACE_DATA_BYTES ? length : TRACE_DATA_BYTES;
    return hex_of(static_cast<const uint8_t*>(data), shown) + (length > shown ? "+" : "");
}

class TraceFile : public TraceSink {
  public:
    outfile::GrowingFile file;
    void line(const std::string& text) override { file.append(text + "\n"); }
};

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", value);
    return text;
}

// Key, ASC and ASCQ from fixed-format or descriptor-format sense data.
std::string sense_field(const ScsiCommand& command) {
    if (command.scsi_status != STATUS_CHECK_CONDITION)
        return "-";
    const uint8_t* sense = command.sense;
    bool descriptor = (sense[0] & 0x7F) == 0x72 || (sense[0] & 0x7F) == 0x73;
    uint8_t key = descriptor ? sense[1] & 0x0F : sense[2] & 0x0F;
    uint8_t asc = descriptor ? sense[2] : sense[12];
    uint8_t ascq = descriptor ? sense[3] : sense[13];
    char text[16];
    std::snprintf(text, sizeof text, "%x/%02x/%02x", unsigned(key), unsigned(asc), unsigned(ascq));
    return text;
}

std::string direction_of(const ScsiCommand& command) {
    if (command.length == 0 || command.data == nullptr)
        return "none";
    return command.data_in ? "in" : "out";
}

std::string quoted(const std::string& text) {
    std::string word(1, '"');
    if (!text.empty())
        word += trace_word(text);
    word += '"';
    return word;
}

}  // namespace

std::string trace_word(const std::string& text) {
    if (text.empty())
        return "-";
    std::string word;
    for (unsigned char c : text) {
        if (c <= ' ' || c >= 0x7F || c == '%' || c == '"') {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", unsigned(c));
            word += escape;
        } else {
            word += char(c);
        }
    }
    return word;
}

const char* trace_system_name() {
#ifdef _WIN32
    return "windows";
#else
    return "linux";
#endif
}

TracePlatform::TracePlatform(Platform& inner, TraceSink& sink, const TraceHeader& header)
    : inner_(inner), sink_(sink), origin_(inner.monotonic_seconds()) {
    sink_.line("# vtx trace 1");
    sink_.line("# program " + trace_word(header.program) + " " + trace_word(header.version));
    sink_.line(std::string("# platform ") + trace_system_name() + " " +
               (&inner == &native_platform() ? "native" : "simulated"));
    std::string arguments = "# arguments";
    for (const std::string& argument : header.arguments) {
        arguments += ' ';
        arguments += quoted(argument);
    }
    sink_.line(arguments);
    sink_.line("# time kind device ...: see docs/trace.md");
}

std::string TracePlatform::path_of(OsHandle handle) const {
    auto found = paths_.find(handle);
    return found == paths_.end() ? "?" : found->second;
}

std::string TracePlatform::prefix(double start, OsHandle handle) const {
    return seconds(start - origin_) + " " + path_of(handle);
}

OsHandle TracePlatform::open_device(const char* path) {
    double start = inner_.monotonic_seconds();
    OsHandle handle = inner_.open_device(path);
    std::string word = trace_word(path ? path : "");
    std::string line = seconds(start - origin_) + " open " + word;
    if (handle == INVALID_OS_HANDLE) {
        sink_.line(line + " fail error=" + std::to_string(inner_.last_error()));
        return handle;
    }
    paths_[handle] = word;
    sink_.line(line + " ok");
    return handle;
}

bool TracePlatform::close_device(OsHandle handle) {
    double start = inner_.monotonic_seconds();
    bool ok = inner_.close_device(handle);
    std::string line = seconds(start - origin_) + " close " + path_of(handle);
    sink_.line(ok ? line + " ok" : line + " fail error=" + std::to_string(inner_.last_error()));
    paths_.erase(handle);
    return ok;
}

bool TracePlatform::is_usb(OsHandle handle) {
    double start = inner_.monotonic_seconds();
    bool usb = inner_.is_usb(handle);
    sink_.line(seconds(start - origin_) + " usb " + path_of(handle) + (usb ? " yes" : " no"));
    return usb;
}

void TracePlatform::pause_ms(unsigned milliseconds) {
    sink_.line(seconds(inner_.monotonic_seconds() - origin_) + " pause - " +
               std::to_string(milliseconds) + "ms");
    inner_.pause_ms(milliseconds);
}

bool TracePlatform::pass_through(OsHandle handle, ScsiCommand& command) {
    std::string sent = command.data_in ? "-" : data_field(command.data, command.length);
    double start = inner_.monotonic_seconds();
    bool ok = inner_.pass_through(handle, command);
    double took = inner_.monotonic_seconds() - start;
    int error = ok ? 0 : inner_.last_error();
    std::string result = !ok ? "fail" : command.scsi_status != 0 ? "status" : "ok";
    char status[8];
    std::snprintf(status, sizeof status, "%02x", unsigned(ok ? command.scsi_status : 0));
    std::string got = command.data_in && ok ? data_field(command.data, command.length) : "-";
    sink_.line(seconds(start - origin_) + " cmd " + path_of(handle) + " " +
               hex_of(command.cdb, sizeof command.cdb) + " " + direction_of(command) + " " +
               std::to_string(command.length) + " " + result + " status=" + status +
               " sense=" + (ok ? sense_field(command) : "-") + " error=" + std::to_string(error) +
               " took=" + seconds(took) + " sent=" + sent + " got=" + got);
    return ok;
}

TracedRun run_traced(const std::string& path, const TraceHeader& header,
                     const std::function<int()>& run) {
    TracedRun result;
    TraceFile trace;
    if (!trace.file.open(path, result.error))
        return result;
    Platform& inner = platform();
    {
        TracePlatform traced(inner, trace, header);
        platform_install(&traced);
        result.ran = true;
        result.code = run();
        platform_install(&inner);
    }
    trace.file.finish(result.error);
    return result;
}

}  // namespace vtx
