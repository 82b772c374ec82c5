#include "tests/companion/companion_support.h"

#include "tools/imagemaker/image_builder.h"

namespace vtx::test {

BridgeRun run_bridge(const std::vector<std::string>& args) {
    std::vector<std::string> words = {"vtx_bridge"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    CapturedStream out;
    CapturedStream err;
    BridgeRun run;
    run.code = companion::bridge_main(int(words.size()), argv.data(), out.get(), err.get());
    run.out = out.text();
    run.err = err.text();
    return run;
}

json::Value json_of(const BridgeRun& run) {
    json::Value value;
    std::string error;
    EXPECT_TRUE(json::parse(run.out, value, error)) << error << "\n" << run.out;
    EXPECT_EQ(run.err, "") << "standard error beside a JSON document";
    EXPECT_EQ(value["schema"].i64(), companion::JSON_SCHEMA);
    EXPECT_EQ(value["exit_code"].i64(), run.code);
    return value;
}

bool trace_has_write(const sim::SimPlatform& sim) {
    return !commands(sim, OP_VENDOR_WRITE).empty();
}

sim::Bridge& add_running_bridge(sim::SimPlatform& sim, const sim::BridgeConfig& config,
                                const FirmwareVersion& version, const std::vector<uint8_t>& area) {
    sim::Bridge& bridge = sim.add_bridge(config);
    imagemaker::ImageRecipe recipe =
        imagemaker::firmware_recipe_for_chip(config.chip_id, config.chip_rev_register >> 16);
    recipe.version = version;
    bridge.install_image(imagemaker::build_firmware_image(recipe));
    if (!area.empty())
        bridge.set_parameter_area(area);
    sim.clear_trace();
    return bridge;
}

std::vector<uint8_t> area_of(const TempDir& dir, const std::string& cfg_text) {
    std::vector<uint8_t> area;
    std::string error;
    EXPECT_EQ(imagemaker::build_parameter_area(dir.write("area_of.cfg", cfg_text), area, error), 0)
        << error;
    return area;
}

std::vector<std::string> codes_of(const json::Value& findings) {
    std::vector<std::string> codes;
    for (const json::Value& finding : findings.array)
        codes.push_back(finding["code"].string);
    return codes;
}

}  // namespace vtx::test
