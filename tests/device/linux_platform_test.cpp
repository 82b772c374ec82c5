// The Linux layer against a fake /dev and /sys laid out in a temporary
// directory with the symlinks sysfs has.
#ifndef _WIN32

#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "device/platform/linux_platform.h"
#include "device/platform/linux_sg_status.h"
#include "tests/support/support.h"
#include "vtx/file.h"

// Directory reads as the kernel gives them while a device leaves: this test
// program's readdir stands before the C library's, so std::filesystem in the
// platform layer reaches it. While `readdir_budget` is not negative, that many
// more reads succeed and every later one fails with EIO.
namespace {
long readdir_budget = -1;
}

extern "C" struct dirent* readdir(DIR* dir) {
    using Real = struct dirent* (*)(DIR*);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "readdir"));
    if (readdir_budget == 0) {
        errno = EIO;
        return nullptr;
    }
    if (readdir_budget > 0)
        --readdir_budget;
    return real(dir);
}

namespace vtx::test {
namespace {

namespace fs = std::filesystem;

const std::string USB_HOST = "devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host0";
const std::string HUB_HOST = "devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1.4/2-1.4:1.0/host2";
const std::string ATA_HOST = "devices/pci0000:00/0000:00:17.0/ata1/host1";
const std::string FAKE_USB_HOST = "devices/platform/3-1:1.0/host3";

class LinuxTree {
  public:
    LinuxTree() {
        fs::create_directories(dev());
        fs::create_directories(sys() / "bus/usb");
        fs::create_directories(sys() / "bus/platform");
        fs::create_directories(sys() / "block");
        link("bus/usb", "devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/subsystem");
        // A directory shaped like a USB interface on another bus.
        link("bus/platform", "devices/platform/3-1:1.0/subsystem");
    }

    fs::path dev() const { return dir.path() / "dev"; }
    fs::path sys() const { return dir.path() / "sys"; }

    // A block device below `host` with its /sys/block link, the link to its
    // SCSI device, and its /dev node.
    fs::path disk(const std::string& name, const std::string& host) {
        const std::string device = host + "/target" + std::to_string(++targets) + ":0:0/0:0:0:0";
        fs::create_directories(sys() / device / "block" / name);
        link(device + "/block/" + name, "block/" + name);
        link(device, device + "/block/" + name + "/device");
        node(name);
        return sys() / device;
    }
    void node(const std::string& name) { std::ofstream(dev() / name).put('\0'); }
    // A symlink at sys/`at` to sys/`target`, relative as sysfs makes them.
    void link(const std::string& target, const std::string& at) {
        const fs::path where = sys() / at;
        fs::create_directories(where.parent_path());
        fs::create_symlink(fs::relative(sys() / target, where.parent_path()), where);
    }
    LinuxPlatform platform() const { return LinuxPlatform(dev().string(), sys().string()); }

  private:
    TempDir dir;
    int targets = 0;
};

// The path an open descriptor refers to.
std::string opened_path(OsHandle fd) {
    return fs::read_symlink("/proc/self/fd/" + std::to_string(fd)).string();
}

TEST(LinuxPlatform, DisksComeInKernelOrderThenOpticalDevices) {
    LinuxTree tree;
    for (const char* name : {"sdb", "sdaa", "sda", "sdz", "sda1", "sdc", "sg0", "sr0", "sdb2"}) {
        tree.node(name);
    }
    LinuxPlatform layer = tree.platform();
    std::vector<std::string> disks;
    for (int i = 0; i < 24; ++i) {
        const std::string path = layer.candidate_path(0, i);
        if (!path.empty())
            disks.push_back(fs::path(path).filename().string());
    }
    EXPECT_EQ(disks, (std::vector<std::string>{"sda", "sdb", "sdc", "sdz", "sdaa"}));
    EXPECT_EQ(layer.candidate_path(1, 0), (tree.dev() / "sr0").string());
    EXPECT_EQ(layer.candidate_path(1, 23), (tree.dev() / "sr23").string());
    EXPECT_EQ(layer.candidate_path(1, 24), "");
    EXPECT_EQ(layer.candidate_path(2, 0), "");
}

TEST(LinuxPlatform, AtMostTwentyFourDisks) {
    LinuxTree tree;
    for (char c = 'a'; c <= 'z'; ++c)
        tree.node(std::string("sd") + c);
    LinuxPlatform layer = tree.platform();
    EXPECT_EQ(layer.candidate_path(0, 23), (tree.dev() / "sdx").string());
    EXPECT_EQ(layer.candidate_path(0, 24), "");
}

TEST(LinuxPlatform, UsbIsARunThroughAUsbInterface) {
    LinuxTree tree;
    tree.disk("sda", USB_HOST);
    tree.disk("sdb", ATA_HOST);
    tree.disk("sdc", HUB_HOST);       // behind a hub, no subsystem link in this tree
    tree.disk("sdd", FAKE_USB_HOST);  // the shape, but its subsystem is not usb
    const LinuxPlatform layer = tree.platform();
    EXPECT_TRUE(layer.block_device_is_usb("sda"));
    EXPECT_FALSE(layer.block_device_is_usb("sdb"));
    EXPECT_TRUE(layer.block_device_is_usb("sdc"));
    EXPECT_FALSE(layer.block_device_is_usb("sdd"));
    EXPECT_FALSE(layer.block_device_is_usb("sde")) << "not in sysfs";
}

TEST(LinuxPlatform, OpenedDeviceIsOnUsbByItsDeviceNumber) {
    // /dev/null and /dev/zero stand in for an sg node: the layer finds a
    // character device in sysfs by its numbers, whatever the node is.
    LinuxTree tree;
    struct stat null_info = {}, zero_info = {};
    ASSERT_EQ(stat("/dev/null", &null_info), 0);
    ASSERT_EQ(stat("/dev/zero", &zero_info), 0);
    auto number = [](const struct stat& info) {
        return std::to_string(major(info.st_rdev)) + ":" + std::to_string(minor(info.st_rdev));
    };
    const fs::path usb = tree.disk("sda", USB_HOST);
    const fs::path ata = tree.disk("sdb", ATA_HOST);
    fs::create_directories(usb / "scsi_generic/sg0");
    fs::create_directories(ata / "scsi_generic/sg1");
    tree.link(fs::relative(usb / "scsi_generic/sg0", tree.sys()).string(),
              "dev/char/" + number(null_info));
    tree.link(fs::relative(ata / "scsi_generic/sg1", tree.sys()).string(),
              "dev/char/" + number(zero_info));

    LinuxPlatform layer = tree.platform();
    const OsHandle on_usb = layer.open_device("/dev/null");
    const OsHandle on_ata = layer.open_device("/dev/zero");
    const OsHandle plain = layer.open_device((tree.dev() / "sda").c_str());
    ASSERT_NE(on_usb, INVALID_OS_HANDLE);
    ASSERT_NE(on_ata, INVALID_OS_HANDLE);
    ASSERT_NE(plain, INVALID_OS_HANDLE);
    EXPECT_TRUE(layer.is_usb(on_usb));
    EXPECT_FALSE(layer.is_usb(on_ata));
    EXPECT_FALSE(layer.is_usb(plain)) << "a regular file is no device";
    for (OsHandle fd : {on_usb, on_ata, plain})
        EXPECT_TRUE(layer.close_device(fd));
}

TEST(LinuxPlatform, BlockNodeOpensThroughItsGenericNode) {
    LinuxTree tree;
    const fs::path sda = tree.disk("sda", USB_HOST);
    fs::create_directories(sda / "scsi_generic/sg3");
    tree.node("sg3");
    const fs::path sdb = tree.disk("sdb", USB_HOST);  // no sg driver
    const fs::path sdc = tree.disk("sdc", USB_HOST);
    fs::create_directories(sdc / "scsi_generic/sg5");  // listed, but no node in /dev

    LinuxPlatform layer = tree.platform();
    struct Case {
        const char* name;
        const char* opened;
    } cases[] = {{"sda", "sg3"}, {"sdb", "sdb"}, {"sdc", "sdc"}};
    for (const Case& c : cases) {
        const OsHandle fd = layer.open_device((tree.dev() / c.name).c_str());
        ASSERT_NE(fd, INVALID_OS_HANDLE) << c.name;
        EXPECT_EQ(fs::path(opened_path(fd)).filename(), c.opened);
        layer.close_device(fd);
    }
}

TEST(LinuxPlatform, FailuresGiveErrno) {
    LinuxTree tree;
    LinuxPlatform layer = tree.platform();
    EXPECT_EQ(layer.open_device((tree.dev() / "sdq").c_str()), INVALID_OS_HANDLE);
    EXPECT_EQ(layer.last_error(), ENOENT);

    // SG_IO on something that is no SCSI device fails in the call itself.
    tree.node("sda");
    const OsHandle fd = layer.open_device((tree.dev() / "sda").c_str());
    ASSERT_NE(fd, INVALID_OS_HANDLE);
    ScsiCommand command;
    command.cdb[0] = 0x12;
    EXPECT_FALSE(layer.pass_through(fd, command));
    EXPECT_EQ(layer.last_error(), ENOTTY);
    layer.close_device(fd);
    EXPECT_EQ(layer.general_failure_code(), EIO);
}

TEST(LinuxPlatform, TimedOutOrLostCommandIsNeverSuccess) {
    struct Case {
        unsigned host, driver;
        int expected;
    } cases[] = {
        {0x00, 0x00, 0},          // completed
        {0x00, 0x08, 0},          // completed with sense: CHECK CONDITION
        {0x00, 0x18, 0},          // sense with a suggestion bit
        {0x03, 0x00, ETIMEDOUT},  // DID_TIME_OUT
        {0x00, 0x06, ETIMEDOUT},  // DRIVER_TIMEOUT
        {0x01, 0x00, EIO},        // DID_NO_CONNECT: the device left the bus
        {0x07, 0x00, EIO},        // DID_ERROR
        {0x00, 0x04, EIO},        // DRIVER_ERROR
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sg_transport_error(c.host, c.driver), c.expected)
            << std::hex << c.host << " " << c.driver;
    }
}

TEST(LinuxPlatform, BytesNotMovedComeFromResidAndNeverExceedTheLength) {
    struct Case {
        int resid;
        uint32_t length, expected;
    } cases[] = {
        {0, 4096, 0},        // whole
        {96, 4096, 96},      // short by 96
        {4096, 4096, 4096},  // nothing moved
        {5000, 4096, 4096},  // a count past the buffer
        {-8, 4096, 0},       // more moved than asked
    };
    for (const Case& c : cases)
        EXPECT_EQ(sg_residual(c.resid, c.length), c.expected) << c.resid;
}

// A listing that fails part-way, at every read, is no listing: no disks, no
// sg node (the block node itself opens), and never an exception.
TEST(LinuxPlatform, DirectoryListingThatFailsPartWayGivesNothingAndNeverThrows) {
    LinuxTree tree;
    for (const char* name : {"sda", "sdb", "sdc"})
        tree.node(name);
    const fs::path sda = tree.disk("sda", USB_HOST);
    for (const char* name : {"a", "b", "c"})  // no sg node among them
        fs::create_directories(sda / "scsi_generic" / name);
    LinuxPlatform layer = tree.platform();
    const std::string whole = layer.candidate_path(0, 0);
    ASSERT_EQ(whole, (tree.dev() / "sda").string());
    for (long budget = 0; budget <= 5; ++budget) {  // ".", "..", three entries, the end
        SCOPED_TRACE(budget);
        readdir_budget = budget;
        const std::string path = layer.candidate_path(0, 0);
        readdir_budget = budget;
        const OsHandle fd = layer.open_device(whole.c_str());
        readdir_budget = -1;
        EXPECT_EQ(path, "");
        ASSERT_NE(fd, INVALID_OS_HANDLE);
        EXPECT_EQ(opened_path(fd), whole);
        layer.close_device(fd);
    }
}

// The waiting instance ends as the elevated one did; a launcher that cannot
// be started is a failure with its reason, not a silent success.
TEST(LinuxPlatform, RelaunchEndsWithTheElevatedRunsExitCode) {
    struct Case {
        const char* script;  // the launcher (sudo and pkexec alike); null: none
        mode_t mode;
        int code;
        const char* failure;
    } cases[] = {
        {nullptr, 0, -1, "No such file or directory"},
        {"exit 0", 0755, 0, ""},
        {"exit 3", 0755, 3, ""},
        {"kill -TERM $$", 0755, 128 + SIGTERM, ""},
        {"exit 0", 0644, -1, "Permission denied"},
    };
    const char* saved = std::getenv("PATH");
    const std::string path = saved ? saved : "";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script ? c.script : "no launcher");
        TempDir bin;
        if (c.script) {
            for (const char* launcher : {"sudo", "pkexec"}) {
                bin.write(launcher, "#!/bin/sh\n" + std::string(c.script) + "\n");
                ASSERT_EQ(chmod(bin.file(launcher).c_str(), c.mode), 0);
            }
        }
        setenv("PATH", bin.path().c_str(), 1);
        char name[] = "vtx_fwupdate";
        char* argv[] = {name, nullptr};
        std::string failure;
        const int code = LinuxPlatform().relaunch_elevated(1, argv, failure);
        setenv("PATH", path.c_str(), 1);
        EXPECT_EQ(code, c.code);
        EXPECT_NE(failure.find(c.failure), std::string::npos) << failure;
        if (code < 0) {
            EXPECT_TRUE(failure.rfind("sudo: ", 0) == 0 || failure.rfind("pkexec: ", 0) == 0);
        }
    }
}

// The size comes from the opened file, in 64 bits.
TEST(LinuxPlatform, RegularFileOpensWithItsWholeSize) {
    TempDir dir;
    const std::string big = dir.write("big.bin", std::string("x"));
    fs::resize_file(big, (uint64_t(5) << 30) + 1);  // sparse
    uint64_t size = 0;
    ASSERT_TRUE(open_regular_file(big.c_str(), "rb", &size));
    EXPECT_EQ(size, (uint64_t(5) << 30) + 1);
}

}  // namespace
}  // namespace vtx::test

#endif  // _WIN32
