// The parameter file: load, encode, and the decoder's promise that an area it
// decodes is written back as file text that encodes to the same records.
#include <algorithm>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "params/decoder.h"
#include "params/encoder.h"
#include "params/parser.h"
#include "params/programming.h"
#include "params/table.h"

namespace {

std::vector<uint8_t> pack(const std::vector<vtx::ParameterEntry>& entries, int* result) {
    std::vector<uint8_t> area(vtx::PARAMETER_AREA_SIZE, 0);
    *result = vtx::param_pack_area(entries.data(), int(entries.size()), area.data());
    return area;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = vtx::fuzz::scratch_file("bridge.cfg", data, size);
    std::vector<vtx::ParameterEntry> entries;
    int loaded = vtx::param_load_file(path.c_str(), entries);
    FUZZ_EXPECT(loaded == 0 || loaded == -1);
    // The validation run of an update: no device is needed and none is used.
    int validated = vtx::param_apply_file(nullptr, path.c_str(), 1);
    if (loaded != 0) {
        FUZZ_EXPECT(validated == -1);
        return 0;
    }
    FUZZ_EXPECT(!entries.empty() && entries.size() <= size_t(vtx::PARAM_LINE_CAP));

    int packed = 0;
    std::vector<uint8_t> area = pack(entries, &packed);
    uint32_t needed = vtx::param_encoded_size(entries.data(), int(entries.size()));
    FUZZ_EXPECT(packed == 0 || packed == -1);
    FUZZ_EXPECT((packed == 0) == vtx::param_records_fit(needed));
    // A file the area cannot hold is refused before an update writes anything.
    FUZZ_EXPECT(validated == (packed == 0 ? 0 : -1));
    if (packed != 0)
        return 0;
    FUZZ_EXPECT(std::all_of(area.begin() + needed, area.end(), [](uint8_t b) { return b == 0; }));

    std::vector<vtx::ParameterEntry> decoded;
    uint32_t stop = 0;
    int result = vtx::param_decode_area(area.data(), uint32_t(area.size()), decoded, &stop);
    FUZZ_EXPECT(stop <= vtx::PARAMETER_AREA_SIZE);
    if (result != 0)
        return 0;
    // The decoded records, written as a file and loaded again, encode to the
    // same bytes up to where decoding stopped, and nothing after them.
    std::string text = vtx::param_format_entries(decoded);
    std::string again_path = vtx::fuzz::scratch_file(
        "again.cfg", reinterpret_cast<const uint8_t*>(text.data()), text.size());
    std::vector<vtx::ParameterEntry> reloaded;
    if (decoded.empty()) {
        FUZZ_EXPECT(vtx::param_load_file(again_path.c_str(), reloaded) == -1);
        return 0;
    }
    FUZZ_EXPECT(vtx::param_load_file(again_path.c_str(), reloaded) == 0);
    int repacked_result = 0;
    std::vector<uint8_t> repacked = pack(reloaded, &repacked_result);
    FUZZ_EXPECT(repacked_result == 0);
    FUZZ_EXPECT(std::equal(area.begin(), area.begin() + stop, repacked.begin()));
    FUZZ_EXPECT(
        std::all_of(repacked.begin() + stop, repacked.end(), [](uint8_t b) { return b == 0; }));
    return 0;
}
