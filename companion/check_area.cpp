// Parameter area files (what `params --raw` and `pack-params` write): decoded
// as the bridge's own area is.
#include <cstdio>
#include <memory>

#include "companion/check.h"
#include "params/encoder.h"
#include "vtx/file.h"

namespace vtx::companion {

namespace {

bool read_small_file(const std::string& path, std::vector<uint8_t>& bytes, uint64_t limit) {
    File file(open_regular_file(path.c_str(), "rb"));
    if (!file)
        return false;
    uint8_t chunk[4096];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
        if (bytes.size() > limit)
            break;
    }
    return true;
}

}  // namespace

void check_area(FileReport& report) {
    std::vector<uint8_t> bytes;
    if (!read_small_file(report.path, bytes, HEADER_BLOCK_SIZE)) {
        report.problem("cannot-open", "cannot open the file");
        return;
    }
    // A dump of the whole header block carries the area in its upper half.
    if (bytes.size() == HEADER_BLOCK_SIZE)
        bytes.erase(bytes.begin(), bytes.begin() + HEADER_HALF_SIZE);
    if (bytes.size() != PARAMETER_AREA_SIZE) {
        report.problem("wrong-size",
                       "a parameter area holds 2048 bytes (or a 4096-byte header "
                       "block), this file " +
                           std::to_string(bytes.size()) +
                           (bytes.size() > HEADER_BLOCK_SIZE ? " and more" : ""));
        return;
    }
    report.area_bytes = bytes;
    report.area = decode_area(bytes.data());
    if (report.area.result != 0)
        report.problem("undecodable", area_stop_text(bytes.data(), report.area));
    else if (report.area.entries.empty())
        report.warning("no-parameters", "the area sets no parameter");
    else if (!report.area.packs_back_same && !report.area.tail_erased)
        report.warning("trailing-bytes",
                       "bytes after the last record are not zero; the "
                       "same parameters packed again give zeros there");
}

}  // namespace vtx::companion
