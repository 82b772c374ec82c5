// A parameter area as read from a bridge: any 2048 bytes (or fewer, to hold
// the decoder to its size), decoded and, when it decodes, written back as
// file text that encodes to the same records.
#include <algorithm>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "params/decoder.h"
#include "params/encoder.h"
#include "params/parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exactly the input's bytes on the heap, so a read past `size` is caught.
    size_t n = std::min<size_t>(size, vtx::PARAMETER_AREA_SIZE);
    std::vector<uint8_t> area(data, data + n);
    std::vector<vtx::ParameterEntry> decoded;
    uint32_t stop = 0xFFFFFFFF;
    int result = vtx::param_decode_area(area.data(), uint32_t(n), decoded, &stop);
    FUZZ_EXPECT(result == 0 || result == -1);
    FUZZ_EXPECT(stop <= n);
    for (const vtx::ParameterEntry& entry : decoded) {
        std::string line;
        vtx::param_format_entry(entry, line);
    }
    if (result != 0)
        return 0;

    std::string text = vtx::param_format_entries(decoded);
    std::string path = vtx::fuzz::scratch_file(
        "decoded.cfg", reinterpret_cast<const uint8_t*>(text.data()), text.size());
    std::vector<vtx::ParameterEntry> reloaded;
    int loaded = vtx::param_load_file(path.c_str(), reloaded);
    if (decoded.empty()) {
        FUZZ_EXPECT(loaded == -1);
        return 0;
    }
    FUZZ_EXPECT(loaded == 0);
    FUZZ_EXPECT(reloaded.size() == decoded.size());
    std::vector<uint8_t> repacked(vtx::PARAMETER_AREA_SIZE, 0);
    FUZZ_EXPECT(vtx::param_pack_area(reloaded.data(), int(reloaded.size()), repacked.data()) == 0);
    FUZZ_EXPECT(std::equal(area.begin(), area.begin() + stop, repacked.begin()));
    FUZZ_EXPECT(
        std::all_of(repacked.begin() + stop, repacked.end(), [](uint8_t b) { return b == 0; }));
    return 0;
}
