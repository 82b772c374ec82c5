// The simulated-bridge program as a user runs it: a child process with its
// own standard streams, on the sample set beside it, its state in a file.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/app/app_test_util.h"
#include "tests/app/child_process.h"
#include "tests/e2e/e2e_support.h"

namespace vtx::test::e2e {
namespace {

#ifdef VTX_FWUPDATE_SIM_EXE

// The program as this platform starts it, and the sample set beside it.
std::string program() {
    return child_program_path(VTX_FWUPDATE_SIM_EXE);
}

std::string sample(const std::string& name) {
    return program().substr(0, program().rfind(NATIVE_SEPARATOR) + 1) + name;
}

std::string sample_start(const std::string& cfg) {
    return "[INFO] Loaded config: " + sample("config.ini") + "\n" +
           start_lines(sample("fw_v1.2.4.061524.bin"), sample("rescue.bin"), cfg,
                       sample("led.bin"));
}

TEST(SimProgram, UpdatesTheSampleBridgeThenSkipsOnTheSecondRun) {
    TempDir dir;
    std::string state = dir.file("state.txt");
    ChildResult first = run_child(program(), {"--state", state}, dir.path().string());
    EXPECT_EQ(first.exit_code, 0);
    EXPECT_EQ(first.out,
              sample_start(sample("bridge.cfg")) + differs_lines() + update_lines() + KEY_WAIT);
    EXPECT_EQ(first.err, "");
    ASSERT_TRUE(std::filesystem::exists(state));

    ChildResult second = run_child(program(), {"--state", state}, dir.path().string());
    EXPECT_EQ(second.exit_code, 0);
    EXPECT_EQ(second.out, sample_start(sample("bridge.cfg")) + found_lines() +
                              current_line("1.2.4", "061524", "20240615") +
                              "[INFO] FW version and build date are the same, skip update.\n" +
                              KEY_WAIT);
    EXPECT_EQ(second.err, "");

    // --reset goes back to the bridge the description gives.
    ChildResult again = run_child(program(), {"--state", state, "--reset"}, dir.path().string());
    EXPECT_EQ(again.exit_code, 0);
    EXPECT_NE(again.out.find(differs_lines()), std::string::npos) << again.out;
}

// Arguments after "--" are the tool's own: three paths override config.ini,
// whose LED image stays.
TEST(SimProgram, FailedUpdateEndsWithTheToolsMessageAndExitCode) {
    TempDir dir;
    std::string bad_cfg = dir.write("bad.cfg", std::string("; nothing to set\n"));
    ChildResult run = run_child(program(),
                                {"--state", dir.file("state.txt"), "--",
                                 sample("fw_v1.2.4.061524.bin"), sample("rescue.bin"), bad_cfg},
                                dir.path().string());
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out, sample_start(bad_cfg) + differs_lines() +
                           "[INFO] Proceeding with firmware update...\n" + KEY_WAIT);
    EXPECT_EQ(run.err, "[ERROR] Firmware update failed (ret=-9, last_error=-9)\n");
}

// A state file that is not whole is refused, never half used: cut at any
// line, emptied, or from before state files carried their end record. A wrong
// command line ends with the usage code every program shares.
TEST(SimProgram, ItsOwnFailuresEndBeforeTheToolRuns) {
    TempDir dir;
    std::string broken = dir.write("bridges.txt", std::string("[bridge]\nchip_id = 12x\n"));
    std::string own = dir.write("own.txt", read_text(sample("bridges.txt")));
    std::string state = dir.file("state.txt");
    ASSERT_EQ(run_child(program(), {"--state", state}, dir.path().string()).exit_code, 0);
    std::string whole = read_text(state);
    std::string unended = whole.substr(0, whole.rfind("[end]\n"));
    const struct {
        std::vector<std::string> args;
        const char* says;
        int code = 2;
    } cases[] = {
        {{"--bridges", broken, "--state", dir.file("s.txt")}, "line 2"},
        {{"--frobnicate", "fw.bin"}, "unknown option --frobnicate", 64},
        {{"-x", "--state", dir.file("s.txt")}, "unknown option -x", 64},
        {{"--state", "--reset"}, "--state needs a value", 64},
        {{"--bridges", own, "--state", own}, "is the description"},
        {{"--bridges", own, "--state", own, "--reset"}, "is the description"},
        {{"--state", dir.write("cut.txt", whole.substr(0, whole.find("\npage") + 1))},
         "not a whole state file"},
        {{"--state", dir.write("empty.txt", std::string())}, "not a whole state file"},
        {{"--state", dir.write("unended.txt", unended)}, "--reset"},
        {{"--state", dir.file("sub")}, "not a regular file"},
        {{"--state", dir.file("huge.txt")}, "too large"},
    };
    std::filesystem::create_directory(dir.file("sub"));
    // Over the bound of a state file: refused before a byte is read.
    dir.write("huge.txt", std::string());
    std::filesystem::resize_file(dir.file("huge.txt"), 65u << 20);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        ChildResult run = run_child(program(), c.args, dir.path().string());
        EXPECT_EQ(run.exit_code, c.code);
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(run.err.starts_with("vtx_fwupdate_sim: ")) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("s.txt")));
    EXPECT_EQ(read_text(own), read_text(sample("bridges.txt")));
}

#endif

#ifdef VTX_BRIDGE_SIM_EXE

// vtx_bridge_sim takes its own options and hands the rest to vtx_bridge.
TEST(SimProgram, BridgeSimPassesAllButItsOwnOptionsToTheCompanion) {
    TempDir dir;
    const struct {
        std::vector<std::string> args;
        int code;
        const char* says;  // in standard output, or standard error
    } cases[] = {
        {{"--reset", "--json", "info"}, 0, "\"command\": \"info\""},
        {{"--json", "--reset", "--real-time", "info"}, 0, "\"command\": \"info\""},
        {{"--reset", "--", "info", "--json"}, 2, "cannot open --json"},  // a PATH
        {{"--help"}, 0, "Commands:"},
        {{"--help", "list"}, 0, "Usage: vtx_bridge_sim list"},
        {{"--state"}, 64, "vtx_bridge_sim: --state needs a value"},
        {{"--reset", "frob"}, 64, "vtx_bridge_sim: unknown command frob"},
        {{"--bridges", dir.file("absent.txt"), "list"}, 1, "absent.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        ChildResult run =
            run_child(child_program_path(VTX_BRIDGE_SIM_EXE), c.args, dir.path().string());
        EXPECT_EQ(run.exit_code, c.code);
        EXPECT_NE((run.out + run.err).find(c.says), std::string::npos) << run.out << run.err;
    }
}

#endif

}  // namespace
}  // namespace vtx::test::e2e
