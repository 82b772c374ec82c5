#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/settings.h"
#include "tests/app/app_test_util.h"

namespace vtx::test {
namespace {

struct IniCase {
    const char* name;
    const char* text;  // null: no file at all
    const char* key;
    std::optional<std::string> value;  // nullopt: -1 and the output untouched
};

const IniCase INI_CASES[] = {
    {"plain", "[Firmware]\nbin=a.bin\n", "bin", "a.bin"},
    {"no file", nullptr, "bin", std::nullopt},
    {"section name is case sensitive", "[firmware]\nbin=a\n", "bin", std::nullopt},
    {"trailing blank after header", "[Firmware] \nbin=a\n", "bin", std::nullopt},
    {"blank before header", " [Firmware]\nbin=a\n", "bin", std::nullopt},
    {"malformed header leaves", "[Firmware]\n[Firmware\nbin=a\n", "bin", std::nullopt},
    {"before any header", "bin=a\n[Firmware]\n", "bin", std::nullopt},
    {"other section", "[Other]\nbin=x\n[Firmware]\ncfg=c\n", "bin", std::nullopt},
    {"key ignores ASCII case", "[Firmware]\nBIN=a\n", "bin", "a"},
    {"blank before equals", "[Firmware]\nbin =a\n", "bin", std::nullopt},
    {"blank before key", "[Firmware]\n bin=a\n", "bin", std::nullopt},
    {"key length must match", "[Firmware]\nbinx=a\nbi=b\nrescuebin=r\n", "bin", std::nullopt},
    {"leading blanks of value dropped", "[Firmware]\nbin=  \t D:\\fw\\a.bin\n", "bin",
     "D:\\fw\\a.bin"},
    {"trailing blanks of value kept", "[Firmware]\nbin=a.bin   \n", "bin", "a.bin   "},
    {"further equals stay in value", "[Firmware]\nbin=a=b\n", "bin", "a=b"},
    {"empty value", "[Firmware]\nbin=\nbin=later\n", "bin", ""},
    {"first line wins", "[Firmware]\nbin=first\nbin=second\n", "bin", "first"},
    {"comments in column one", "[Firmware]\n;bin=c\n#bin=d\nbin=e\n", "bin", "e"},
    {"blank-led comment is a line", "[Firmware]\n ;x\nbin=e\n", "bin", "e"},
    {"second Firmware section", "[Firmware]\n[Other]\nbin=x\n[Firmware]\nbin=y\n", "bin", "y"},
    {"line without equals skipped", "[Firmware]\nbin\n\n\nbin=z", "bin", "z"},
    {"CR LF line ends", "[Firmware]\r\nbin=a\r\n", "bin", "a"},
    {"comment headers are no sections", "[Firmware]\n#[Other]\nled=l\n", "led", "l"},
};

TEST(IniReadValue, FollowsTheSectionKeyAndValueRules) {
    TempDir dir;
    for (const IniCase& c : INI_CASES) {
        std::string path =
            c.text ? dir.write("config.ini", std::string(c.text)) : dir.file("no.ini");
        std::string value = "untouched";
        int result = ini_read_value(path, c.key, value);
        EXPECT_EQ(result, c.value ? 0 : -1) << c.name;
        EXPECT_EQ(value, c.value.value_or("untouched")) << c.name;
    }
}

TEST(IniReadValue, LongLineIsReadIn511CharacterPieces) {
    TempDir dir;
    // 600 characters: the first 511 are one line, the last 89 another, and
    // that one is a key line of its own.
    std::string tail = "led=" + std::string(85, 'y');
    std::string long_line = std::string(511, 'x') + tail;
    ASSERT_EQ(long_line.size(), 600u);
    std::string path =
        dir.write("config.ini", "[Firmware]\n" + long_line + "\nbin=" + std::string(596, 'b'));
    std::string value;
    ASSERT_EQ(ini_read_value(path, "led", value), 0);
    EXPECT_EQ(value, std::string(85, 'y'));
    // A value on a long line ends with the first piece.
    ASSERT_EQ(ini_read_value(path, "bin", value), 0);
    EXPECT_EQ(value, std::string(507, 'b'));
}

TEST(SettingsValuePath, AbsoluteValuesStayAndOthersJoinTheDirectory) {
    SettingsLocation location{"C:\\tools", "C:\\tools\\config.ini", '\\'};
    const std::pair<const char*, const char*> cases[] = {
        {"/fw/a.bin", "/fw/a.bin"},
        {"\\\\server\\share\\a.bin", "\\\\server\\share\\a.bin"},
        {"D:\\fw\\a.bin", "D:\\fw\\a.bin"},
        {"D:a", "D:a"},
        {"D:", "C:\\tools\\D:"},
        {"fw_v1.2.3.010124.bin", "C:\\tools\\fw_v1.2.3.010124.bin"},
        {"sub/a.bin", "C:\\tools\\sub/a.bin"},
        {"", "C:\\tools\\"},
    };
    for (const auto& [value, path] : cases) {
        EXPECT_EQ(settings_value_path(location, value), path) << value;
    }
}

TEST(SettingsValuePath, JoinedPathIsCutAt1023Characters) {
    SettingsLocation location{std::string(1000, 'd'), "", '/'};
    std::string path = settings_value_path(location, std::string(100, 'v'));
    EXPECT_EQ(path, std::string(1000, 'd') + "/" + std::string(22, 'v'));
}

TEST(SettingsLocate, CutsTheExecutablePathAtItsLastSeparator) {
    SimInstalled sim;
    sim->set_path_separator('\\');
    sim->set_executable_path("C:\\Program Files\\vtx\\vtx_fwupdate.exe");
    SettingsLocation location = settings_locate();
    EXPECT_EQ(location.directory, "C:\\Program Files\\vtx");
    EXPECT_EQ(location.file, "C:\\Program Files\\vtx\\config.ini");

    // A Linux path holds no backslash; its own separator cuts it.
    sim->set_path_separator('/');
    sim->set_executable_path("/opt/vtx/bin\\x/vtx_fwupdate");
    EXPECT_EQ(settings_locate().file, "/opt/vtx/bin\\x/config.ini");

    sim->set_executable_path("");
    EXPECT_EQ(settings_locate().file, "");
    sim->set_executable_path(std::string(1024, 'p'));
    EXPECT_EQ(settings_locate().file, "");
}

TEST(ProgramName, TakesTheTextAfterTheLastBackslashElseSlash) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\tools\\vtx_fwupdate.exe", "vtx_fwupdate.exe"},
        {"/usr/local/bin/vtx_fwupdate", "vtx_fwupdate"},
        {"vtx_fwupdate", "vtx_fwupdate"},
        {"C:/a\\b/c.exe", "b/c.exe"},
        {"dir\\", ""},
    };
    for (const auto& [argv0, name] : cases)
        EXPECT_EQ(program_name(argv0), name) << argv0;
}

// Resolution against a real config.ini beside a pretend executable.
class SettingsResolve : public ::testing::Test {
  protected:
    SettingsResolve() {
        sim_->set_path_separator(NATIVE_SEPARATOR);
        sim_->set_executable_path(joined("vtx_fwupdate.exe"));
    }

    std::string joined(const std::string& name) const {
        return temp_.path().string() + NATIVE_SEPARATOR + name;
    }
    // Resolves `args`: the paths, and the "Loaded config" line when the file
    // was read; standard error stays empty.
    RunPaths resolve(std::vector<std::string> args, bool loaded) {
        args.insert(args.begin(), "C:\\x\\vtx_fwupdate.exe");
        Args vector(args);
        CapturedConsole captured;
        RunPaths paths;
        EXPECT_EQ(settings_resolve(vector.argc(), vector.argv(), captured.console(), paths), 0);
        EXPECT_EQ(captured.out.text(),
                  loaded ? "[INFO] Loaded config: " + joined("config.ini") + "\n" : "");
        EXPECT_EQ(captured.err.text(), "");
        return paths;
    }

    SimInstalled sim_;
    TempDir temp_;
};

// Values are joined to the program's directory unless absolute; a missing
// key is the directory itself and an empty led is absent; a file without bin
// is not loaded at all; the arguments override by their count.
TEST_F(SettingsResolve, PathsComeFromTheFileAndTheArgumentsOverrideThem) {
    const std::string all = "[Firmware]\nbin=b\nrescuebin=r\ncfg=c\nled=l\n";
    const RunPaths from_file{joined("b"), joined("r"), joined("c"), joined("l")};
    const struct {
        std::string config;
        std::vector<std::string> args;
        bool loaded;
        RunPaths paths;
    } cases[] = {
        {"[Firmware]\nBin=fw_v1.2.3.010124.bin\nrescuebin=/abs/r.bin\ncfg=D:\\p.cfg\nled=D:\n",
         {},
         true,
         {joined("fw_v1.2.3.010124.bin"), "/abs/r.bin", "D:\\p.cfg", joined("D:")}},
        {"[Firmware]\nbin=a.bin\nled=\n", {}, true, {joined("a.bin"), joined(""), joined(""), {}}},
        {"[Firmware]\nrescuebin=r\ncfg=c\nled=l\n", {"a", "b", "c"}, false, {"a", "b", "c", {}}},
        {all, {"x"}, true, from_file},
        {all, {"x", "y"}, true, from_file},
        {all, {"1.bin", "2.bin", "3.cfg"}, true, {"1.bin", "2.bin", "3.cfg", joined("l")}},
        {all, {"1", "2", "3", ""}, true, {"1", "2", "3", ""}},
        {all, {"1", "2", "3", "4", "5"}, true, {"1", "2", "3", "4"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.config << testing::PrintToString(c.args));
        temp_.write("config.ini", c.config);
        RunPaths paths = resolve(c.args, c.loaded);
        EXPECT_EQ(paths.bin, c.paths.bin);
        EXPECT_EQ(paths.rescuebin, c.paths.rescuebin);
        EXPECT_EQ(paths.cfg, c.paths.cfg);
        EXPECT_EQ(paths.led, c.paths.led);
    }
}

TEST_F(SettingsResolve, CommandLineAloneWorksWhenTheExecutablePathIsUnknown) {
    temp_.write("config.ini", std::string("[Firmware]\nbin=b\n"));
    sim_->set_executable_path("");
    RunPaths paths = resolve({"rel/a_v1.2.3.4.bin", "r", "c"}, false);
    EXPECT_EQ(paths.bin, "rel/a_v1.2.3.4.bin");
    EXPECT_FALSE(paths.led.has_value());
}

}  // namespace
}  // namespace vtx::test
