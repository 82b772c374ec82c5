#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/startup.h"
#include "tests/app/app_test_util.h"

namespace vtx::test {
namespace {

struct VersionCase {
    const char* path;
    int code;
    const char* version;  // expected texts when code is 0
    const char* date;
    const char* err;  // the error line when code is 1
};

const VersionCase VERSION_CASES[] = {
    {"fw_v1.2.3.061524.bin", 0, "1.2.3", "061524", ""},
    {"fw_v1.2.3.0615.bin", 0, "1.2.3", "0615.b", ""},
    {"fw_v1.2.3.bin", 0, "1.2.3", "bin", ""},
    {"fw_v01.02.03.061524.bin", 0, "1.2.3", "061524", ""},
    {"fw_v1.2.3. 0615", 0, "1.2.3", "0615", ""},
    {"C:/fw/a_v1.2.3.061524.bin", 0, "1.2.3", "061524", ""},
    {"C:\\fw_v9.9.9.999999\\a_v1.2.3.061524.bin", 0, "1.2.3", "061524", ""},
    {"\\\\srv\\x_v2\\dir/a_v4.5.6.010125.bin", 0, "4.5.6", "010125", ""},
    {"fw_v1.2.bin", 1, "", "", "[ERROR] Cannot parse version from: 1.2.bin\n"},
    {"my_vendor_fw_v1.2.3.061524.bin", 1, "", "",
     "[ERROR] Cannot parse version from: endor_fw_v1.2.3.061524.bin\n"},
    {"fw_v1.2.3.", 1, "", "", "[ERROR] Cannot parse version from: 1.2.3.\n"},
    {"C:\\fw_v1.2.3.4\\firmware.bin", 1, "", "",
     "[ERROR] Cannot find '_v' in filename: firmware.bin\n"},
    {"/fw/fw-1.2.3.bin", 1, "", "", "[ERROR] Cannot find '_v' in filename: fw-1.2.3.bin\n"},
    {"", 1, "", "", "[ERROR] Cannot find '_v' in filename: \n"},
};

TEST(ExpectedVersion, ComesFromTheFirstUnderscoreVOfTheFileName) {
    for (const VersionCase& c : VERSION_CASES) {
        CapturedConsole captured;
        ExpectedVersion expected{"untouched", "untouched"};
        int code = read_expected_version(c.path, captured.console(), expected);
        EXPECT_EQ(code, c.code) << c.path;
        EXPECT_EQ(captured.err.text(), c.err) << c.path;
        if (c.code != 0) {
            EXPECT_EQ(captured.out.text(), "") << c.path;
            continue;
        }
        EXPECT_EQ(expected.version, c.version) << c.path;
        EXPECT_EQ(expected.date, c.date) << c.path;
        EXPECT_EQ(captured.out.text(), std::string("[INFO] Expected FW version: ") + c.version +
                                           ", build date: " + c.date + "\n")
            << c.path;
    }
}

std::string banner(const std::string& bin, const std::string& led = "(none)") {
    return "[INFO] vtx_fwupdate v1.0.0.60820 - Firmware Update Tool\n[INFO] Bin:      " + bin +
           "\n[INFO] Rescue:   r.bin\n[INFO] Config:   p.cfg\n[INFO] LED:      " + led + "\n";
}

struct StartCase {
    const char* name;
    std::vector<std::string> args;
    bool elevated;
    bool continues;
    int code;
    std::string out;
    std::string err;
    int relaunch_code = 0;  // what the platform's relaunch gives back
    const char* relaunch_failure = "";
};

// A bridge is attached in every case: the start must not reach for it.
TEST(AppStart, EndsEachPathWithItsMessagesAndExitCodeBeforeAnyDevice) {
    const std::string ok_bin = "C:\\fw\\fw_v1.2.3.061524.bin";
    auto files = [](const std::string& bin, std::vector<std::string> more) {
        std::vector<std::string> args = {"vtx", bin, "r.bin", "p.cfg"};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
    const std::string relaunching = "[INFO] Not running as administrator, re-launching...\n";
    const std::string admin = "[INFO] Running as administrator\n";
    const std::string no_sudo = "sudo: No such file or directory";
    const StartCase cases[] = {
        {"usage", {"C:\\t\\vtx.exe", "a", "b"}, true, false, 1, "", usage_text("vtx.exe")},
        {"not elevated", files(ok_bin, {"", "extra"}), false, false, 0,
         banner(ok_bin, "") + relaunching, ""},
        {"not elevated, the elevated run fails", files(ok_bin, {}), false, false, 3,
         banner(ok_bin) + relaunching, "", 3},
        {"not elevated, no elevated instance starts", files(ok_bin, {}), false, false, 1,
         banner(ok_bin) + relaunching,
         "[ERROR] Cannot start the elevated instance: " + no_sudo + "\n", -1, no_sudo.c_str()},
        {"no _v", files("fw.bin", {}), true, false, 1, banner("fw.bin") + admin,
         "[ERROR] Cannot find '_v' in filename: fw.bin\n"},
        {"bad version", files("fw_v1.x.bin", {}), true, false, 1, banner("fw_v1.x.bin") + admin,
         "[ERROR] Cannot parse version from: 1.x.bin\n"},
        {"expected version", files(ok_bin, {"led.bin"}), true, true, 0,
         banner(ok_bin, "led.bin") + admin +
             "[INFO] Expected FW version: 1.2.3, build date: 061524\n",
         ""},
    };
    // The whole program ends the same way, and waits for no key: what it
    // was given on standard input is all still there. A relaunch asks for
    // the arguments as typed.
    for (const StartCase& c : cases) {
        for (bool whole : {false, true}) {
            if (whole && c.continues)
                continue;
            SCOPED_TRACE(testing::Message() << c.name << (whole ? ", whole program" : ""));
            SimInstalled sim;
            sim->add_bridge(sim::BridgeConfig{});
            sim->set_elevated(c.elevated);
            sim->set_relaunch_result(c.relaunch_code, c.relaunch_failure);
            Args args(c.args);
            CapturedStream out, err;
            InputStream in("kx");
            Console console{out.get(), err.get(), in.get()};
            if (whole) {
                EXPECT_EQ(vtx_main(args.argc(), args.argv(), console), c.code);
                EXPECT_EQ(std::fgetc(in.get()), 'k');
            } else {
                StartResult result;
                EXPECT_EQ(app_start(args.argc(), args.argv(), console, result), c.continues);
                EXPECT_EQ(result.exit_code, c.code);
            }
            EXPECT_EQ(out.text(), c.out);
            EXPECT_EQ(err.text(), c.err);
            EXPECT_TRUE(sim->trace().empty());
            EXPECT_EQ(sim->open_count(), 0);
            ASSERT_EQ(sim->relaunch_requests().size(), c.elevated ? 0u : 1u);
            if (!c.elevated) {
                EXPECT_EQ(sim->relaunch_requests()[0], c.args);
            }
        }
    }
}

// Standard output and standard error into one file, each fully buffered, as
// when both are redirected to one place: the lines must keep their order.
TEST(VtxMain, LinesOfBothStreamsKeepTheirOrderInOneFile) {
    TempDir dir;
    std::string path = dir.file("console.txt");
    std::FILE* out = std::fopen(path.c_str(), "a");
    std::FILE* err = std::fopen(path.c_str(), "a");
    ASSERT_TRUE(out && err);
    std::setvbuf(out, nullptr, _IOFBF, 4096);
    std::setvbuf(err, nullptr, _IOFBF, 4096);
    InputStream in("");
    SimInstalled sim;
    Args args({"vtx", "fw.bin", "r.bin", "p.cfg"});
    EXPECT_EQ(vtx_main(args.argc(), args.argv(), Console{out, err, in.get()}), 1);
    // Standard error's buffer reaches the file first: anything standard
    // output still held back would land after it.
    std::fclose(err);
    std::fclose(out);
    EXPECT_EQ(without_carriage_returns(read_text(path)),
              banner("fw.bin") +
                  "[INFO] Running as administrator\n"
                  "[ERROR] Cannot find '_v' in filename: fw.bin\n");
}

}  // namespace
}  // namespace vtx::test
