// The firmware image's file name, from which the start reads the version and
// build date the bridge is to run.
#include <cstring>
#include <string>

#include "app/startup.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A path from the command line or the settings file holds no NUL.
    std::string path(reinterpret_cast<const char*>(data), size);
    path.resize(std::strlen(path.c_str()));

    std::string name = vtx::file_name_part(path);
    FUZZ_EXPECT(name.size() <= path.size());
    FUZZ_EXPECT(name.find('\\') == std::string::npos);

    vtx::ExpectedVersion expected;
    int code = vtx::read_expected_version(path, vtx::fuzz::null_console(), expected);
    FUZZ_EXPECT(code == 0 || code == 1);
    if (code == 0) {
        // Both texts fit the tool's 64-byte buffers; the date is the field
        // as written, one to six characters.
        FUZZ_EXPECT(expected.version.size() < 64);
        FUZZ_EXPECT(!expected.date.empty() && expected.date.size() <= 6);
        FUZZ_EXPECT(name.find("_v") != std::string::npos);
        unsigned major = 0, minor = 0, patch = 0;
        char tail = 0;
        FUZZ_EXPECT(std::sscanf(expected.version.c_str(), "%u.%u.%u%c", &major, &minor, &patch,
                                &tail) == 3);
    }
    return 0;
}
