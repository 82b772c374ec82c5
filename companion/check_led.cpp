// LED images, checked as the update tool checks them: the "SDEL" header, the
// two lengths against the file size, and the flash the blocks cover.
#include <cstdio>
#include <memory>
#include <vector>

#include "companion/check.h"
#include "companion/text.h"
#include "vtx/file.h"

namespace vtx::companion {

namespace {

constexpr uint64_t ADDRESS_SPACE_END = 0x100000000ull;

bool read_led_header(const std::string& path, LedFacts& facts) {
    File file(open_regular_file(path.c_str(), "rb"));
    if (!file)
        return false;
    uint8_t bytes[LED_HEADER_SIZE] = {};
    facts.has_header = std::fread(bytes, 1, sizeof bytes, file.get()) == sizeof bytes;
    if (facts.has_header)
        facts.header = led_header_from_bytes(bytes);
    return true;
}

void check_range(FileReport& report) {
    LedFacts& facts = report.led;
    uint64_t start = facts.header.flash_address;
    uint64_t blocks = (facts.total + FLASH_UNIT - 1) / FLASH_UNIT;
    facts.range_end = start + blocks * FLASH_UNIT;
    if (facts.range_end > ADDRESS_SPACE_END) {
        report.problem("beyond-address-space", "the blocks from " +
                                                   hex32(facts.header.flash_address) +
                                                   " run past the end of the address space");
        return;
    }
    uint64_t header_start = HEADER_BLOCK_ADDRESS;
    uint64_t header_end = header_start + HEADER_BLOCK_SIZE;
    if (facts.range_end > header_start && start < header_end)
        report.problem("reaches-header-block",
                       "the blocks from " + hex32(facts.header.flash_address) +
                           " would overwrite the header block at " + hex32(HEADER_BLOCK_ADDRESS));
    if (facts.header.flash_address % FLASH_UNIT != 0)
        report.warning("unaligned-address", "flash_address " + hex32(facts.header.flash_address) +
                                                " is not on a 4096-byte block boundary");
}

}  // namespace

void check_led(FileReport& report) {
    LedFacts& facts = report.led;
    if (!file_size_of(report.path, facts.size) || !read_led_header(report.path, facts)) {
        report.problem("cannot-open", "cannot open the file");
        return;
    }
    if (!facts.has_header) {
        report.problem("short-file", "only " + std::to_string(facts.size) +
                                         " bytes: an LED image starts with a 64-byte header");
        return;
    }
    if (facts.header.signature != LED_SIGNATURE) {
        uint8_t bytes[4];
        for (int i = 0; i < 4; ++i)
            bytes[i] = uint8_t(facts.header.signature >> (8 * i));
        report.problem("wrong-signature", "the file starts with \"" +
                                              printable(std::string(bytes, bytes + 4)) +
                                              "\", not \"SDEL\"");
        return;
    }
    // The tool adds the two lengths in 32 bits.
    facts.total = uint32_t(facts.header.length_a + facts.header.length_b);
    if (facts.total != facts.size)
        report.problem("size-mismatch", "length_a + length_b is " + std::to_string(facts.total) +
                                            ", the file holds " + std::to_string(facts.size) +
                                            " bytes");
    check_range(report);
}

}  // namespace vtx::companion
