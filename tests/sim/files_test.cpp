// State files and description files of the simulated platform.
#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <string>

#include "tests/sim/sim_helpers.h"
#include "tests/support/support.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

namespace vtx::test {
namespace {

using sim::BridgeConfig;
using sim::SimPlatform;

// A platform in the middle of things: a bridge off the bus after a restart,
// a fault half used, flash written, the clock moved on.
TEST(SimFiles, StateFileRoundTripsTheWholePlatform) {
    TempDir dir;
    SimPlatform sim;
    BridgeConfig config = bridge_at("main \"one\"", DRIVE1);
    config.vendor = "Vantrex\t";
    config.return_paths = {"\\\\.\\PhysicalDrive4", "\\\\.\\g:"};
    config.boot_seconds = 2.5;
    config.max_transfer_reply.reset();
    sim::Bridge& bridge = sim.add_bridge(config);
    bridge.set_parameter_area(std::vector<uint8_t>(2048, 0x5C));
    sim::ImageRecipe recipe = sim::SIM_IMAGE_RECIPE;
    recipe.version = {3, 1, 4, 0, 20240229};
    bridge.install_image(imagemaker::build_image(recipe));
    BridgeConfig other = bridge_at("other", DRIVE2);
    other.drive.reset();
    sim.add_bridge(other);
    sim::DiskConfig disk;
    disk.usb = false;
    sim.add_disk(disk);
    sim::CommandFault fault;
    fault.opcode = 0x12;
    fault.skip = 1;
    fault.count = 3;
    sim.add_fault(fault);
    OsHandle h = sim.open_device(DRIVE1);
    inquiry(sim, h);
    set_address(sim, sim.open_device(DRIVE2), 0x8C000000);
    restart(sim, h);
    sim.pause_ms(1000);

    const std::string first = dir.file("state1.txt"), second = dir.file("state2.txt");
    ASSERT_TRUE(sim.save(first));
    SimPlatform copy;
    std::string error;
    ASSERT_TRUE(copy.load(first, error)) << error;
    ASSERT_TRUE(copy.save(second));
    EXPECT_TRUE(read_text(first) == read_text(second));

    sim::Bridge* loaded = copy.bridge("main \"one\"");
    ASSERT_NE(loaded, nullptr);
    EXPECT_FALSE(loaded->on_bus());
    copy.pause_ms(1500);
    EXPECT_TRUE(loaded->on_bus());
    EXPECT_EQ(loaded->current_path(), "\\\\.\\PhysicalDrive4");
    EXPECT_EQ(loaded->running_version().build_date, 20240229u);
    EXPECT_EQ(loaded->parameter_area(), std::vector<uint8_t>(2048, 0x5C));
    EXPECT_EQ(loaded->restart_count(), 1);
    EXPECT_EQ(loaded->config().vendor, "Vantrex\t");
    // The fault has three failures left after the one it let pass.
    EXPECT_EQ(inquiry(copy, copy.open_device("\\\\.\\PhysicalDrive4")).status, 2);
    // The other bridge kept the flash address it had been given.
    EXPECT_EQ(data_write(copy, copy.open_device(DRIVE2), std::vector<uint8_t>(4096)).status, 0);

    // A state file is whole or refused: cut at any line, or with one byte
    // changed, it fails to load and the platform stays as it was.
    const std::string text = read_text(first);
    std::vector<std::string> damaged = {"", "[bridge]\nchip_id = 12x\n"};
    for (size_t at = text.find('\n'); at + 1 < text.size(); at = text.find('\n', at + 1))
        damaged.push_back(text.substr(0, at + 1));
    std::string flipped = text;
    flipped[text.find("page = ") + 20] ^= 1;
    damaged.push_back(flipped);
    for (const std::string& bad : damaged) {
        ASSERT_FALSE(copy.load(dir.write("bad.txt", bad), error)) << bad.size();
        EXPECT_NE(error.find("not a whole state file"), std::string::npos) << error;
    }
    EXPECT_FALSE(copy.load(dir.file("missing.txt"), error));
    EXPECT_EQ(copy.bridges().size(), 2u);

#ifndef _WIN32
    // A save stopped part-way (here by a file size limit, as by a full disk)
    // leaves the state before it whole.
    rlimit saved, small;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    small = saved;
    small.rlim_cur = 1024;
    auto handler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool written = copy.save(first, error);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, handler);
    EXPECT_FALSE(written);
    EXPECT_EQ(read_text(first), text);
#endif
}

// Fault counters at the top of their range neither wrap nor stop counting
// early: a fault fires exactly on the turns its window names.
TEST(SimFiles, FaultCountersAtTheTopOfTheirRangeFireOnTheirTurnsOnly) {
    const std::string top = std::to_string(std::numeric_limits<long>::max());
    const std::string below = std::to_string(std::numeric_limits<long>::max() - 2);
    const struct {
        std::string fault;
        std::vector<int> statuses;  // of four INQUIRY commands in turn
    } cases[] = {
        {"skip = 1\ncount = " + top, {0, 2, 2, 2}},
        {"skip = 0\ncount = " + top + "\nmatched = " + top, {2, 2, 2, 2}},
        {"skip = " + top + "\ncount = " + top + "\nmatched = " + below, {0, 0, 0, 0}},
        {"skip = " + below +
             "\ncount = 1\nmatched = " + std::to_string(std::numeric_limits<long>::max() - 3),
         {0, 2, 0, 0}},
        {"skip = 2\ncount = -1\nmatched = " + top, {2, 2, 2, 2}},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        SimPlatform sim;
        std::string error;
        ASSERT_TRUE(sim::load_description(
            dir.write("d.txt", "[bridge]\nrestart_count = 2147483647\n[fault]\nopcode = 0x12\n" +
                                   c.fault + "\n"),
            sim, error))
            << error;
        OsHandle h = sim.open_device(DRIVE1);
        std::vector<int> statuses;
        for (int i = 0; i < 4; ++i)
            statuses.push_back(inquiry(sim, h).status);
        EXPECT_EQ(statuses, c.statuses);
        restart(sim, h);
        EXPECT_EQ(sim.bridges()[0]->restart_count(), std::numeric_limits<int>::max());
    }
}

// Devices that misbehave in ways the tool must survive, as a description
// sets them up: an open that fails, an identity word that changes with a
// restart, a version reply with no zero byte and shorter than asked, a read
// of one address answered short, sense data of any length.
TEST(SimFiles, DescriptionSetsUpDevicesThatMisbehave) {
    TempDir dir;
    SimPlatform sim;
    std::string error;
    ASSERT_TRUE(sim::load_description(
        dir.write("d.txt", std::string("[bridge odd]\nfirmware = main\nidentity = 0x11111111\n"
                                       "identity_after_restart = 0x22222222\n"
                                       "version_reply = hex:0102030405\n"
                                       "[fault]\nopen = yes\ndevice = odd\nskip = 1\n"
                                       "[fault]\naddress = 0xB37000C8\nshort_by = 3\n")),
        sim, error))
        << error;
    // A state file keeps every one of them.
    ASSERT_TRUE(sim.save(dir.file("s1.txt")));
    SimPlatform copy;
    ASSERT_TRUE(copy.load(dir.file("s1.txt"), error)) << error;
    ASSERT_TRUE(copy.save(dir.file("s2.txt")));
    EXPECT_EQ(read_text(dir.file("s1.txt")), read_text(dir.file("s2.txt")));

    OsHandle h = copy.open_device(DRIVE1);
    EXPECT_EQ(copy.open_device(DRIVE1), INVALID_OS_HANDLE);
    EXPECT_EQ(copy.last_error(), sim::SIM_ERROR_ACCESS_DENIED);
    EXPECT_NE(copy.open_device(DRIVE1), INVALID_OS_HANDLE);
    const SimReply version = vendor_in(copy, h, SUB_VERSION, 0, 20);
    EXPECT_EQ(version.data,
              (std::vector<uint8_t>{1, 2, 3, 4, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(version.residual, 15u);
    // The chip id comes one byte of four; the buffer keeps the rest.
    for (uint32_t address : {0xB37000C8u, 0xB37000C4u}) {
        VendorCommand c = vendor_command(OP_VENDOR_READ, SUB_MEMORY_READ, address, 4);
        const SimReply reply = send(copy, h, c.cdb, std::vector<uint8_t>(4, 0x55), true);
        EXPECT_EQ(reply.residual, address == 0xB37000C8u ? 3u : 0u);
        EXPECT_EQ(reply.data[3], address == 0xB37000C8u ? 0x55 : 0x00) << std::hex << address;
    }
    EXPECT_EQ(load_le32(vendor_in(copy, h, SUB_IDENTITY, 0, 4).data.data()), 0x11111111u);
    restart(copy, h);
    copy.pause_ms(5000);
    h = copy.open_device(DRIVE1);
    EXPECT_EQ(load_le32(vendor_in(copy, h, SUB_IDENTITY, 0, 4).data.data()), 0x22222222u);

    // Sense data as long as the device makes it: the rest of the area stays
    // zero, and bytes past the fixed format are the device's own.
    const struct {
        int length;
        uint8_t asc, ascq, additional, byte20;
    } lengths[] = {{0, 0, 0, 0, 0},
                   {8, 0, 0, 0, 0},
                   {13, 0x24, 0, 5, 0},
                   {18, 0x24, 7, 10, 0},
                   {32, 0x24, 7, 24, 0xEE}};
    for (const auto& l : lengths) {
        SCOPED_TRACE(l.length);
        SimPlatform device;
        ASSERT_TRUE(sim::load_description(
            dir.write("f.txt",
                      "[bridge]\n[fault]\nopcode = 0x12\nasc = 0x24\nascq = 7\n"
                      "sense_length = " +
                          std::to_string(l.length) + "\n"),
            device, error))
            << error;
        ScsiCommand command;
        command.cdb[0] = 0x12;
        command.cdb[4] = 36;
        std::vector<uint8_t> data(36);
        command.data = data.data();
        command.length = 36;
        command.data_in = true;
        std::fill(std::begin(command.sense), std::end(command.sense), uint8_t(0x55));
        ASSERT_TRUE(device.pass_through(device.open_device(DRIVE1), command));
        EXPECT_EQ(command.scsi_status, 2);
        EXPECT_EQ(command.sense[0], l.length ? 0x70 : 0);
        EXPECT_EQ(command.sense[7], l.additional);
        EXPECT_EQ(command.sense[12], l.asc);
        EXPECT_EQ(command.sense[13], l.ascq);
        EXPECT_EQ(command.sense[20], l.byte20);
    }
}

TEST(SimFiles, DescriptionBuildsBridgesDisksAndFaults) {
    TempDir dir;
    sim::ImageRecipe recipe = sim::SIM_IMAGE_RECIPE;
    recipe.signature = MODE_RESCUE;
    recipe.version = {0, 9, 0, 0, 20230505};
    dir.write("rescue.bin", imagemaker::build_image(recipe));
    std::string path = dir.write("bridges.txt", R"(# two bridges and a stick
[platform]
elevated = no
executable = "C:\tools\vtx_fwupdate.exe"   # where config.ini is looked for

[bridge first]
path = \\.\PhysicalDrive1
return_paths = \\.\PhysicalDrive5, \\.\h:
chip_id = 0xA0010002
revision = 1.00
model = VTX4500
max_transfer_reply = none
image = rescue.bin
boot_seconds = -1

[bridge "optical"]
path =
volume = \\.\e:
optical = yes
identity_query = no
firmware = main
firmware_version = 1.2.3
firmware_date = 20240131
drive = none

[disk]
path = \\.\PhysicalDrive0
product = "Stick           "

[fault]   ; every version query of the optical bridge fails
device = optical
opcode = 0xE2
sub_command = 0xA5
count = all
)");
    SimPlatform sim;
    std::string error;
    ASSERT_TRUE(sim::load_description(path, sim, error)) << error;
    EXPECT_FALSE(sim.is_elevated());
    EXPECT_EQ(sim.executable_path(), "C:\\tools\\vtx_fwupdate.exe");
    sim::Bridge* first = sim.bridge("first");
    sim::Bridge* optical = sim.bridge("optical");
    ASSERT_TRUE(first && optical);
    EXPECT_EQ(first->mode_reply(), 2);
    EXPECT_EQ(first->running_version().minor, 9u);
    EXPECT_EQ(first->config().return_paths.size(), 2u);
    EXPECT_FALSE(first->config().max_transfer_reply.has_value());
    EXPECT_EQ(optical->mode_reply(), 1);
    EXPECT_EQ(optical->running_version().build_date, 20240131u);
    EXPECT_FALSE(optical->config().drive.has_value());
    EXPECT_EQ(sim.disks().at(0).product, "Stick           ");
    EXPECT_EQ(vendor_in(sim, sim.open_device("\\\\.\\e:"), SUB_VERSION, 0, 20).status, 2);
}

// The first bad line ends the reading, named with its reason; whatever bytes
// a description holds, the reader ends with an answer.
TEST(SimFiles, DescriptionErrorsNameTheLineAndTheReasonAndGarbageGetsOne) {
    using namespace std::string_literals;
    const std::pair<std::string, const char*> cases[] = {
        {"chip_id = 1\n", "line 1: 'chip_id' stands before"},
        {"[bridge]\n\n[gadget]\n", "line 3: unknown section [gadget]"},
        {"[bridge x] y\n", "line 1: section header without ']' at its end"},
        {"[bridge]\nchip_id = 0x1FFFFFFFF\n", "line 2: 'chip_id' takes a number"},
        {"[bridge]\nchip_id 5\n", "line 2: expected 'key = value'"},
        {"[bridge]\nvendor = \"Vantrex\n", "line 2: missing closing quote"},
        {"[bridge]\nboot_seconds = soon\n", "line 2: 'boot_seconds' takes"},
        {"[bridge]\nflux = 3\n", "line 2: unknown key 'flux' in [bridge]"},
        {"[bridge]\nidentity = 1\nidentity = 2\n", "line 3: 'identity' is given twice"},
        {"[bridge]\ndrive = none\ndrive_serial = X\n", "line 3: drive settings"},
        {"[bridge]\n[bridge]\n", "line 2: path \\\\.\\PhysicalDrive1 is already taken"},
        {"[bridge a]\n[bridge a]\npath = \\\\.\\PhysicalDrive2\n", "line 2: a bridge named 'a'"},
        {"[bridge]\nimage = nowhere.bin\n", "line 2: cannot read image file"},
        {"[bridge]\n\nimage = short.bin\n", "line 3: image file"},
        {"[bridge]\nfirmware = beta\n", "line 2: 'firmware' takes main, rescue"},
        {"[bridge]\nfirmware_version = 1.2\n", "line 2: 'firmware_version' takes major"},
        {"[bridge]\npage = 0x8C004001, fill:00\n", "line 2: 'page' takes"},
        {"[fault]\nopcode = 256\n", "line 2: 'opcode' takes a number from -1 to 255"},
        {"[platform]\nseparator = ab\n", "line 2: 'separator' takes one character"},
        {"[disk]\npath =\n", "line 1: a disk needs a path"},
        {"[bridge]\nmodel = \"VTX\0\"\n"s, "line 2: control character"},
    };
    TempDir dir;
    dir.write("short.bin", std::vector<uint8_t>(100));
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        SimPlatform sim;
        std::string error;
        EXPECT_FALSE(sim::load_description(dir.write("d.txt", text), sim, error));
        EXPECT_NE(error.find(expected), std::string::npos) << error;
    }
    std::mt19937 random(7);
    const std::string pieces[] = {
        "[bridge]", "[fault]", "=",  "\"",   ",", "0x",
        "page",     "fill:",   "\n", "path", "#", "99999999999999999999999",
        "\xff"};
    for (int round = 0; round < 200; ++round) {
        std::string text;
        for (int i = 0; i < 40; ++i)
            text += random() % 3 ? pieces[random() % std::size(pieces)]
                                 : std::string(1, char(random()));
        SimPlatform sim;
        std::string error;
        if (!sim::load_description(dir.write("g.txt", text), sim, error)) {
            EXPECT_FALSE(error.empty());
        }
    }
}

}  // namespace
}  // namespace vtx::test
