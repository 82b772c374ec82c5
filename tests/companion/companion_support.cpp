#include "tests/companion/companion_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tools/imagemaker/image_builder.h"

namespace vtx::test {

BridgeRun run_bridge(const std::vector<std::string>& args) {
    Args argv({"vtx_bridge"}, args);
    CapturedStream out;
    CapturedStream err;
    BridgeRun run;
    run.code = companion::bridge_main(argv.argc(), argv.argv(), out.get(), err.get());
    run.out = out.text();
    run.err = err.text();
    return run;
}

namespace {

// "<suite>.<case>-<n>.json" in VTX_JSON_DOCUMENTS: unique across the test
// processes that ctest runs side by side.
void save_document(const std::string& text) {
    const char* dir = std::getenv("VTX_JSON_DOCUMENTS");
    if (dir == nullptr || *dir == '\0')
        return;
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    static int count = 0;
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name =
        test == nullptr ? "outside" : std::string(test->test_suite_name()) + "." + test->name();
    for (char& c : name)
        c = c == '/' ? '_' : c;
    std::string path = std::string(dir) + "/" + name + "-" + std::to_string(++count) + ".json";
    std::ofstream out(path, std::ios::binary);
    out << text;
    EXPECT_TRUE(out.good()) << "cannot save " << path;
}

}  // namespace

Json json_of(const BridgeRun& run) {
    Json value = Json::parse(run.out, nullptr, false);
    EXPECT_FALSE(value.is_discarded()) << "not one JSON document:\n" << run.out;
    save_document(run.out);
    EXPECT_EQ(run.err, "") << "standard error beside a JSON document";
    EXPECT_EQ(value["schema"].get<int64_t>(), companion::JSON_SCHEMA);
    EXPECT_EQ(value["exit_code"].get<int64_t>(), run.code);
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

std::vector<std::string> codes_of(Json findings) {
    std::vector<std::string> codes;
    for (Json finding : findings)
        codes.push_back(finding["code"].get<std::string>());
    return codes;
}

}  // namespace vtx::test
