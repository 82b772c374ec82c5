// The --trace file of the simulated-bridge program: the whole sample update,
// line by line against the expected trace, and the file rule when it cannot
// be written.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "device/platform/trace_platform.h"
#include "tests/app/child_process.h"
#include "tests/e2e/e2e_support.h"

namespace vtx::test::e2e {
namespace {

#if defined(VTX_FWUPDATE_SIM_EXE) && defined(VTX_E2E_DATA_DIR)

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

void replace_token(std::string& text, const std::string& token, const std::string& value) {
    size_t at = text.find(token);
    if (at != std::string::npos)
        text.replace(at, token.size(), value);
}

// The expected file names the system and the run's two files by tokens; the
// rest is literal, times included, because the run is in virtual time.
std::string expected_trace(const TempDir& dir) {
    std::string text = read_text(std::string(VTX_E2E_DATA_DIR) + "/sample_update.trace");
    replace_token(text, "<system>", trace_system_name());
    replace_token(text, "<state>", trace_word(dir.file("state.txt")));
    replace_token(text, "<trace>", trace_word(dir.file("update.trace")));
    return text;
}

TEST(Trace, WholeSampleUpdateMatchesTheExpectedTraceLineByLine) {
    TempDir dir;
    std::string program = child_program_path(VTX_FWUPDATE_SIM_EXE);
    ChildResult run = run_child(
        program, {"--reset", "--state", dir.file("state.txt"), "--trace", dir.file("update.trace")},
        dir.path().string());
    ASSERT_EQ(run.exit_code, 0) << run.err;
    std::vector<std::string> got = lines_of(read_text(dir.file("update.trace")));
    std::vector<std::string> want = lines_of(expected_trace(dir));
    for (size_t i = 0; i < got.size() && i < want.size(); ++i)
        ASSERT_EQ(got[i], want[i]) << "line " << i + 1;
    EXPECT_EQ(got.size(), want.size());
    // Only the finished trace stays: no new file is left beside it.
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_FALSE(entry.path().filename().string().starts_with("update.trace."));
}

TEST(Trace, UnwritableTraceEndsWithExitCodeTwoAndTheOldFileStays) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("sub"));
    std::string program = child_program_path(VTX_FWUPDATE_SIM_EXE);
    const struct {
        const char* trace;
        const char* says;
    } cases[] = {
        {"sub", "not a regular file"},
        {"missing/update.trace", "cannot write the trace"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.trace);
        ChildResult run = run_child(
            program, {"--reset", "--state", dir.file("state.txt"), "--trace", dir.file(c.trace)},
            dir.path().string());
        EXPECT_EQ(run.exit_code, 2);
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_TRUE(std::filesystem::is_directory(dir.file("sub")));
    }
}

#endif

}  // namespace
}  // namespace vtx::test::e2e
