#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/settings.h"
#include "device/platform/platform.h"
#include "device/platform/process_args.h"
#include "tests/app/app_test_util.h"
#include "tests/app/child_process.h"

namespace vtx::test {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32

TEST(Win32Process, ExecutablePathIsTheModulesWindowsPath) {
    std::string path = native_platform().executable_path();
    EXPECT_TRUE(path.ends_with("\\test_app.exe")) << path;
    EXPECT_EQ(native_platform().path_separator(), '\\');
}

TEST(Win32Process, ParametersAreTheCommandLineWithoutTheProgramName) {
    const std::pair<const char*, const char*> cases[] = {
        {"\"C:\\Program Files\\vtx\\vtx.exe\" a.bin \"r b.bin\" c", "a.bin \"r b.bin\" c"},
        {"vtx.exe  \t a b", "a b"},
        {"\"C:\\a b\\vtx.exe\"x y", "x y"},
        {"C:\\t\\vtx.exe", ""},
        {"\"unterminated name", ""},
        {"vtx.exe a  \"\" ", "a  \"\" "},
        {"", ""},
    };
    for (const auto& [line, parameters] : cases) {
        EXPECT_EQ(win32_relaunch_parameters(line), parameters) << line;
    }
}

#else

TEST(LinuxProcess, ExecutablePathIsTheResolvedProcSelfExe) {
    std::string path = native_platform().executable_path();
    EXPECT_EQ(path, fs::canonical("/proc/self/exe").string());
    EXPECT_TRUE(path.ends_with("/test_app")) << path;
    EXPECT_EQ(native_platform().path_separator(), '/');
}

TEST(LinuxProcess, RelaunchGoesThroughSudoOnATerminalElsePkexec) {
    Args args({"./vtx_fwupdate", "a b.bin", "", "c"});
    EXPECT_EQ(linux_relaunch_argv(true, "/opt/vtx/vtx_fwupdate", args.argc(), args.argv()),
              (std::vector<std::string>{"sudo", "/opt/vtx/vtx_fwupdate", "a b.bin", "", "c"}));
    EXPECT_EQ(linux_relaunch_argv(false, "/opt/vtx/vtx_fwupdate", args.argc(), args.argv()),
              (std::vector<std::string>{"pkexec", "/opt/vtx/vtx_fwupdate", "a b.bin", "", "c"}));
    Args alone({"vtx_fwupdate"});
    EXPECT_EQ(linux_relaunch_argv(false, "/x", alone.argc(), alone.argv()),
              (std::vector<std::string>{"pkexec", "/x"}));
}

#endif

// The real program, copied into a fresh directory so that no config.ini lies
// beside it unless the test puts one there: without usable settings, and
// with only two arguments, it prints the usage text under its own name.
TEST(RealProgram, WithoutUsableSettingsPrintsUsageOnStandardErrorAndExitsOne) {
#ifdef _WIN32
    const std::string suffix = ".exe";
#else
    const std::string suffix = "";
#endif
    const struct {
        std::string name;
        const char* config;  // null: no config.ini
        std::vector<std::string> args;
    } cases[] = {
        {"vtx_fwupdate" + suffix, nullptr, {}},
        {"tool" + suffix, "[firmware]\nbin=a_v1.2.3.4.bin\n", {"a", "b"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::string copy = dir.file(c.name);
        fs::copy_file(child_program_path(VTX_FWUPDATE_EXE), copy);
        if (c.config != nullptr)
            dir.write("config.ini", std::string(c.config));
        ChildResult result = run_child(copy, c.args, dir.path().string());
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, usage_text(c.name));
    }
}

}  // namespace
}  // namespace vtx::test
