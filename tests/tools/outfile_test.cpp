// How the programs around the update tool write their files: never over one
// of their inputs, and an existing file is the old one whole or the new one
// whole, whatever happens part-way.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "tests/support/support.h"
#include "tools/outfile/replace_file.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

namespace vtx::test {
namespace {

namespace fs = std::filesystem;

const std::string INPUT_TEXT = "VID = 0x1234\n";
const std::vector<uint8_t> NEW_BYTES(2048, 0xA5);

// The directory holds exactly these names: no new file was left behind.
std::vector<std::string> names_in(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(OutputFiles, AnOutputThatIsAnInputOrNoRegularFileIsRefusedAndNothingChanges) {
    const struct {
        const char* name;
        // Makes the output path beside `input`.
        std::function<std::string(const TempDir&, const std::string& input)> output;
    } cases[] = {
        {"the same path", [](const TempDir&, const std::string& input) { return input; }},
        {"the same file by another spelling",
         [](const TempDir& dir, const std::string&) {
             return (dir.path() / "." / "in.cfg").string();
         }},
        {"a hard link to it",
         [](const TempDir& dir, const std::string& input) {
             fs::create_hard_link(input, dir.file("hard.bin"));
             return dir.file("hard.bin");
         }},
#ifndef _WIN32
        {"a symbolic link to it",
         [](const TempDir& dir, const std::string&) {
             fs::create_symlink("in.cfg", dir.file("soft.bin"));
             return dir.file("soft.bin");
         }},
        {"a link to a link to it",
         [](const TempDir& dir, const std::string&) {
             fs::create_symlink("in.cfg", dir.file("soft.bin"));
             fs::create_symlink("soft.bin", dir.file("softer.bin"));
             return dir.file("softer.bin");
         }},
        {"a link in a loop",
         [](const TempDir& dir, const std::string&) {
             fs::create_symlink("loop2", dir.file("loop1"));
             fs::create_symlink("loop1", dir.file("loop2"));
             return dir.file("loop1");
         }},
#endif
        {"a directory",
         [](const TempDir& dir, const std::string&) {
             fs::create_directory(dir.file("sub"));
             return dir.file("sub");
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::string input = dir.write("in.cfg", INPUT_TEXT);
        std::string output = c.output(dir, input);
        std::vector<std::string> before = names_in(dir);
        std::string error;
        EXPECT_FALSE(outfile::replace_file_apart_from(output, input, NEW_BYTES.data(),
                                                      NEW_BYTES.size(), error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(read_text(input), INPUT_TEXT);
        EXPECT_EQ(names_in(dir), before);
    }
}

#ifndef _WIN32
// A link names the file to replace: the file changes, the link stays.
TEST(OutputFiles, ALinkToAnotherFileHasThatFileReplacedAndStays) {
    TempDir dir;
    std::string input = dir.write("in.cfg", INPUT_TEXT);
    dir.write("old.bin", std::string(5000, 'o'));
    chmod(dir.file("old.bin").c_str(), 0640);
    fs::create_symlink("old.bin", dir.file("link.bin"));
    std::string error;
    ASSERT_TRUE(outfile::replace_file_apart_from(dir.file("link.bin"), input, NEW_BYTES.data(),
                                                 NEW_BYTES.size(), error))
        << error;
    EXPECT_TRUE(fs::is_symlink(dir.file("link.bin")));
    EXPECT_EQ(read_file(dir.file("old.bin")), NEW_BYTES);
    EXPECT_EQ(fs::status(dir.file("old.bin")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"in.cfg", "link.bin", "old.bin"}));
}

// A file size limit stops the write part-way, as a full disk would.
TEST(OutputFiles, AWriteThatFailsPartWayLeavesTheOldFileWhole) {
    TempDir dir;
    const std::string old_text(5000, 'o');
    std::string path = dir.write("keep.bin", old_text);
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 1024;
    auto old_handler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    bool written = outfile::replace_file(path, NEW_BYTES.data(), NEW_BYTES.size(), error);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, old_handler);
    EXPECT_FALSE(written);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(read_text(path), old_text);
    EXPECT_EQ(names_in(dir), std::vector<std::string>{"keep.bin"});
}
#endif

}  // namespace
}  // namespace vtx::test
