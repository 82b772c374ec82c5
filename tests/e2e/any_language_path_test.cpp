// Windows: file names in any language. The programs carry a manifest that
// makes UTF-8 their ANSI code page, so a folder named outside the system code
// page still holds config.ini and the update files the tool finds. This test
// program carries the same manifest, so it names them with the A functions
// too; where the system does not honour the manifest (before Windows 10
// 1903), the test says so and is skipped.
#include <gtest/gtest.h>

#include "tests/app/child_process.h"
#include "tests/e2e/e2e_support.h"
#include "tools/outfile/replace_file.h"
#include "vtx/file.h"

#if defined(_WIN32) && defined(VTX_FWUPDATE_SIM_EXE)
#include <windows.h>
#endif

namespace vtx::test::e2e {
namespace {

#if defined(_WIN32) && defined(VTX_FWUPDATE_SIM_EXE)

void copy(const std::string& from, const std::string& to) {
    std::filesystem::copy_file(native_path(from), native_path(to));
}

TEST(AnyLanguagePath, ToolFindsConfigAndFirmwareInAFolderNamedInAnyLanguage) {
    if (GetACP() != CP_UTF8)
        GTEST_SKIP() << "this system ignores the UTF-8 code page of the manifest";
    TempDir dir;
    std::string program = child_program_path(VTX_FWUPDATE_SIM_EXE);
    std::string samples = program.substr(0, program.rfind('\\') + 1);
    // Built by hand: std::filesystem's own narrow conversion would garble it.
    std::string folder = dir.path().string() + "\\ünï 中文 dir\\";
    ASSERT_TRUE(std::filesystem::create_directory(native_path(folder)));
    for (const char* name : {"vtx_fwupdate_sim.exe", "rescue.bin", "led.bin", "bridge.cfg",
                             "bridges.txt", "bridge_fw_1.2.3.bin"})
        copy(samples + name, folder + name);
    std::string bin = "中_fw_v1.2.4.061524.bin";
    copy(samples + "fw_v1.2.4.061524.bin", folder + bin);
    std::string config =
        "[Firmware]\nbin=" + bin + "\nrescuebin=rescue.bin\ncfg=bridge.cfg\nled=led.bin\n";
    std::string reason;
    ASSERT_TRUE(outfile::replace_file(folder + "config.ini", config.data(), config.size(), reason))
        << reason;

    for (const char* says : {"[INFO] New FW version: 1.2.4", "skip update"}) {
        ChildResult run = run_child(folder + "vtx_fwupdate_sim.exe",
                                    {"--state", folder + "state.txt"}, dir.path().string());
        EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
        EXPECT_NE(run.out.find("[INFO] Loaded config: " + folder + "config.ini\n"),
                  std::string::npos)
            << run.out;
        EXPECT_NE(run.out.find("[INFO] Bin:      " + folder + bin + "\n"), std::string::npos);
        EXPECT_NE(run.out.find(says), std::string::npos) << run.out;
    }
}

#endif

}  // namespace
}  // namespace vtx::test::e2e
