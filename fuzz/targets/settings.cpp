// The settings file: config.ini beside the executable, read by ini_read_value
// and turned into the run's paths by the settings resolution.
#include <filesystem>

#include "app/settings.h"
#include "fuzz/fuzz_support.h"

namespace {

vtx::sim::SimPlatform& platform_beside_scratch() {
    static vtx::sim::SimPlatform sim;
    static bool installed = false;
    if (!installed) {
        char separator = char(std::filesystem::path::preferred_separator);
        sim.set_path_separator(separator);
        sim.set_executable_path(vtx::fuzz::scratch_dir() + separator + "vtx_fwupdate");
        vtx::platform_install(&sim);
        installed = true;
    }
    return sim;
}

void expect_cut(const std::optional<std::string>& path) {
    FUZZ_EXPECT(!path || path->size() <= vtx::SETTINGS_TEXT_MAX);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    platform_beside_scratch();
    std::string ini = vtx::fuzz::scratch_file("config.ini", data, size);
    for (const char* key : {"bin", "rescuebin", "cfg", "led", "BIN", ""}) {
        std::string value = "untouched";
        int result = vtx::ini_read_value(ini, key, value);
        FUZZ_EXPECT(result == 0 || result == -1);
        FUZZ_EXPECT(result == 0 || value == "untouched");
        FUZZ_EXPECT(value.size() <= vtx::SETTINGS_TEXT_MAX);
    }

    // The settings file alone, then three arguments over it (the LED path may
    // still come from the file).
    char program[] = "vtx_fwupdate";
    char bin[] = "fw_v1.2.3.010124.bin", rescue[] = "rescue.bin", cfg[] = "bridge.cfg";
    char* alone[] = {program, nullptr};
    char* three[] = {program, bin, rescue, cfg, nullptr};
    for (auto [argc, argv] : {std::pair{1, alone}, std::pair{4, three}}) {
        vtx::RunPaths paths;
        int code = vtx::settings_resolve(argc, argv, vtx::fuzz::null_console(), paths);
        FUZZ_EXPECT(code == 0 || code == 1);
        if (code == 0)
            FUZZ_EXPECT(paths.bin && paths.rescuebin && paths.cfg);
        if (argc == 4 && code == 0)
            FUZZ_EXPECT(*paths.bin == bin && *paths.cfg == cfg);
        FUZZ_EXPECT(argc == 1 || code == 0);
        expect_cut(paths.bin);
        expect_cut(paths.rescuebin);
        expect_cut(paths.cfg);
        expect_cut(paths.led);
        FUZZ_EXPECT(!paths.led || !paths.led->empty() || argc == 5);
    }
    return 0;
}
