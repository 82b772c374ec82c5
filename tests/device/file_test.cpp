// open_regular_file on this platform: a regular file opens, with its size and
// in the mode asked for; anything else is refused without reading from it.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/support.h"
#include "vtx/file.h"

namespace vtx::test {
namespace {

namespace fs = std::filesystem;

TEST(OpenRegularFile, OnlyARegularFileOpens) {
    TempDir dir;
    const std::string regular = dir.write("a.ini", std::string("k=v\r\n"));
    fs::create_directory(dir.file("dir"));
    struct Case {
        std::string path;
        bool opens;
    } cases[] = {
        {regular, true},
        {dir.file("dir"), false},
        {dir.file("missing"), false},
#ifdef _WIN32
        {"NUL", false},
        {"CON", false},
        {"\\\\.\\PhysicalDrive0", false},
        {"\\\\.\\C:", false},
        {"\\\\.\\pipe\\vtx", false},
        {"\\\\?\\" + regular, true},
        {"\\\\?\\PhysicalDrive0", false},
        {"\\\\?\\GLOBALROOT\\Device\\Null", false},
#else
        {dir.file("link.ini"), true},  // FIFOs and devices: the whole-tool test
#endif
    };
#ifndef _WIN32
    fs::create_symlink(regular, dir.file("link.ini"));
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        uint64_t size = 99;
        File file = open_regular_file(c.path.c_str(), "rb", &size);
        EXPECT_EQ(bool(file), c.opens);
        EXPECT_EQ(size, c.opens ? 5u : 99u);
    }
    // The text mode stays the platform's: "r" on Windows reads a CR LF as LF.
    char line[8] = {};
    File text = open_regular_file(regular.c_str(), "r");
    ASSERT_TRUE(text);
    ASSERT_TRUE(std::fgets(line, sizeof line, text.get()));
#ifdef _WIN32
    EXPECT_STREQ(line, "k=v\n");
#else
    EXPECT_STREQ(line, "k=v\r\n");
#endif
    EXPECT_FALSE(open_regular_file(regular.c_str(), "wb")) << "never opened to write";
    EXPECT_EQ(read_text(regular), "k=v\r\n");
}

}  // namespace
}  // namespace vtx::test
