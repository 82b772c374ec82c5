// Offline checks of update files: firmware and rescue images, LED images,
// parameter files and parameter areas. Each check reads the file only and
// says what the update tool would make of it, in the tool's own terms.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "companion/area.h"
#include "params/parser.h"
#include "vtx/records.h"

namespace vtx::companion {

// One thing found in a file: a problem makes the update tool refuse it; a
// warning is something the tool accepts but not as written.
struct Finding {
    std::string code;  // stable, for scripts: "crc-mismatch"
    std::string message;
    int line = 0;  // parameter files: the file line, 1 and up
};

// A chip that takes an image, and in which slot.
struct ChipFit {
    uint32_t chip_id;
    const char* revisions;  // "any", "4-or-10", "other"
    const char* slot;       // "main" or "rescue"
};

struct ImageFacts {
    uint64_t size = 0;
    bool has_header = false;  // at least 2048 bytes
    ImageHeader header;
    FirmwareVersion header_version;  // header bytes 64 to 83
    const char* format = "unknown";  // "main", "rescue", "unknown"
    const char* role = "";           // "firmware", "rescue", "" for neither
    bool crc_computed = false;
    uint32_t crc = 0;
    bool layout_fits = false;
    std::vector<ChipFit> fits;
    bool name_version_found = false;
    std::string name_version, name_date;  // as vtx_fwupdate reads them from the name
};

struct LedFacts {
    uint64_t size = 0;
    bool has_header = false;
    LedImageHeader header;
    uint64_t total = 0;      // length_a + length_b, as the tool adds them (32 bits)
    uint64_t range_end = 0;  // end of the flash the whole blocks cover
};

// One piece of a parameter file as the loader reads it: a line, or a part of
// a line longer than the loader's 127-character pieces.
struct ParamPiece {
    int line = 0;
    int column = 1;
    bool continuation = false;  // a later piece of a long line
    bool comment = false;       // blank or comment: not worth a word
    std::string text;           // the piece without its line end
    ParamDrop outcome = ParamDrop::kNotALine;
    std::string name, value;  // as read, when the loader took the piece as a line
};

struct ParamFacts {
    int line_count = 0;
    int line_limit = 0;  // lines the loader reads at most
    std::vector<ParamPiece> pieces;
    std::vector<ParameterEntry> entries;  // what the loader keeps, in order
    std::vector<int> entry_lines;         // the file line of each entry
    uint32_t encoded_size = 0;
};

struct FileReport {
    std::string path;
    std::string kind;  // firmware, rescue, image, led, params, area, unknown
    bool kind_forced = false;
    std::vector<Finding> problems;
    std::vector<Finding> warnings;
    ImageFacts image;
    LedFacts led;
    ParamFacts params;
    std::vector<uint8_t> area_bytes;
    AreaReport area;

    bool passed(bool strict) const { return problems.empty() && (!strict || warnings.empty()); }
    void problem(const std::string& code, const std::string& message, int line = 0) {
        problems.push_back({code, message, line});
    }
    void warning(const std::string& code, const std::string& message, int line = 0) {
        warnings.push_back({code, message, line});
    }
};

// Whole files are read only up to these sizes: far above anything the
// bridge's flash or the loader holds, and small enough to keep in memory.
constexpr uint64_t IMAGE_SIZE_LIMIT = 1ull << 30;
constexpr uint64_t TEXT_SIZE_LIMIT = 4ull << 20;

// Each fills `report` for the file at report.path. `role` is "firmware" or
// "rescue" when the file is to fill that slot, "" when either will do.
void check_image(FileReport& report, const std::string& role);
void check_led(FileReport& report);
void check_params(FileReport& report);
void check_area(FileReport& report);

// Reads the parameter file into `facts` as the loader reads it. False with
// the reason when it cannot be opened or is beyond TEXT_SIZE_LIMIT.
bool walk_parameter_file(const std::string& path, ParamFacts& facts, Finding& failure);

// True, with the reason, when something other than a regular file stands at
// `path` (a directory, a device, a FIFO, a socket): it is refused before it
// is opened, so no read can block or run without end.
bool not_a_regular_file(const std::string& path, Finding& failure);

// The file's size in bytes; false when it cannot be opened or measured.
bool file_size_of(const std::string& path, uint64_t& size);

// Lines the loader drops, blank lines and comments not counted.
int dropped_lines(const ParamFacts& facts);

// The name of what the loader did with a piece, as `check` reports it in text
// and JSON alike: "kept", "unknown-name", "obsolete", "bad-value", "over-cap"
// or "not-a-line".
const char* param_drop_name(ParamDrop outcome);

// "fits" for people: "0xA0020001 to 0xA0020003 (revision 4 or 10) as rescue".
std::string fits_text(const std::vector<ChipFit>& fits);

// The file's reports as text and as the JSON "files" array.
void print_report(std::FILE* out, const FileReport& report, bool strict);
void write_report(JsonWriter& json, const FileReport& report, bool strict);

}  // namespace vtx::companion
