// Firmware and rescue images, checked as the update tool checks them:
// leading block, payload CRC, layout, then chip variant and slot, for every
// chip there is instead of the one connected.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "app/device_check.h"
#include "app/startup.h"
#include "companion/check.h"
#include "companion/text.h"
#include "update/image.h"
#include "vtx/bytes.h"
#include "vtx/file.h"

namespace vtx::companion {

namespace {

// Every chip id a supported bridge may report.
constexpr uint32_t KNOWN_CHIPS[] = {0xA0010001, 0xA0010002, 0xA0010003, 0xA0020000, 0xA0020001,
                                    0xA0020002, 0xA0020003, 0xA0030000, 0xA0030001};
// Revision 4 stands for "4 or 10", revision 0 for any other.
constexpr uint32_t REV_SPECIAL = 4;
constexpr uint32_t REV_OTHER = 0;

// The slot the image fills on this chip, or null: the updater's slot rule.
const char* slot_on(const ImageHeader& header, uint32_t chip_id) {
    if (fw_slot_rule_met(header, chip_id, false))
        return "main";
    if (fw_slot_rule_met(header, chip_id, true))
        return "rescue";
    return nullptr;
}

// Chips whose variant is the image's, with and without regard to the slot.
void find_fits(ImageFacts& facts, bool& variant_known) {
    variant_known = false;
    for (uint32_t chip_id : KNOWN_CHIPS) {
        bool special = fw_expected_variant(chip_id, REV_SPECIAL) == facts.header.chip_variant;
        bool other = fw_expected_variant(chip_id, REV_OTHER) == facts.header.chip_variant;
        if (!special && !other)
            continue;
        variant_known = true;
        const char* slot = slot_on(facts.header, chip_id);
        if (slot == nullptr)
            continue;
        const char* revisions = special && other ? "any" : special ? "4-or-10" : "other";
        facts.fits.push_back({chip_id, revisions, slot});
    }
}

const char* role_of(const ImageHeader& header) {
    if (header.signature == MODE_RESCUE)
        return "rescue";
    if (header.signature == MODE_MAIN)
        return header.image_type == IMAGE_TYPE_RESCUE_IN_MAIN ? "rescue" : "firmware";
    return "";
}

bool read_lead_block(std::FILE* file, ImageFacts& facts) {
    std::vector<uint8_t> lead(IMAGE_LEAD_BLOCK, 0);
    size_t got = std::fread(lead.data(), 1, lead.size(), file);
    if (got < IMAGE_HEADER_SIZE)
        return false;
    facts.has_header = true;
    facts.header = image_header_from_bytes(lead.data());
    const uint8_t* version = lead.data() + 64;
    facts.header_version = {load_le32(version), load_le32(version + 4), load_le32(version + 8),
                            load_le32(version + 12), load_le32(version + 16)};
    return true;
}

// The payload CRC as the reader folds it, from the file's own bytes.
bool payload_crc(std::FILE* file, const ImageHeader& header, uint32_t& crc) {
    if (std::fseek(file, long(header.payload_offset), SEEK_SET) != 0)
        return false;
    std::vector<uint8_t> chunk(IMAGE_LEAD_BLOCK);
    crc = 0;
    for (uint32_t left = header.payload_length; left != 0;) {
        uint32_t n = left < IMAGE_LEAD_BLOCK ? left : IMAGE_LEAD_BLOCK;
        if (std::fread(chunk.data(), 1, n, file) != n)
            return false;
        crc = crc32_update(crc, chunk.data(), n);
        left -= n;
    }
    return true;
}

void check_payload(std::FILE* file, FileReport& report) {
    ImageFacts& facts = report.image;
    const ImageHeader& h = facts.header;
    if (h.payload_offset >= 0x80000000u) {
        report.problem("negative-payload-offset",
                       "payload_offset " + hex32(h.payload_offset) +
                           " is a negative seek offset: the reader fails with \"fseek()\"");
        return;
    }
    if (uint64_t(h.payload_offset) + h.payload_length > facts.size) {
        report.problem("payload-past-end",
                       "the payload (" + std::to_string(h.payload_length) + " bytes at offset " +
                           std::to_string(h.payload_offset) + ") runs past the end of the file");
        return;
    }
    facts.crc_computed = payload_crc(file, h, facts.crc);
    if (!facts.crc_computed)
        report.problem("cannot-read", "the payload cannot be read");
    else if (facts.crc != h.payload_crc)
        report.problem("crc-mismatch", "the payload's CRC-32 is " + hex32(facts.crc) +
                                           ", the header says " + hex32(h.payload_crc));
}

// The layout the download walks, one reason at a time.
void check_layout(FileReport& report) {
    ImageFacts& facts = report.image;
    const ImageHeader& h = facts.header;
    uint64_t size = facts.size;
    size_t before = report.problems.size();
    facts.layout_fits = size <= 0xFFFFFFFFu && fw_layout_fits(h, uint32_t(size));
    if (h.lead_offset != 0)
        report.problem("lead-offset-not-zero",
                       "lead_offset is " + std::to_string(h.lead_offset) + ", not 0");
    if (h.body_offset != h.lead_length)
        report.problem("body-offset-not-lead", "body_offset " + std::to_string(h.body_offset) +
                                                   " is not where the lead region ends (" +
                                                   std::to_string(h.lead_length) + ")");
    if (h.lead_length % FLASH_UNIT != 0)
        report.problem("lead-length-unaligned", "the lead region's " +
                                                    std::to_string(h.lead_length) +
                                                    " bytes are not whole 4096-byte blocks");
    if (size < h.lead_length)
        report.problem("shorter-than-lead", "the file (" + std::to_string(size) +
                                                " bytes) is shorter than its lead region (" +
                                                std::to_string(h.lead_length) + " bytes)");
    else if ((size - h.lead_length) % FLASH_UNIT != 0)
        report.problem("body-length-unaligned", "the body's " +
                                                    std::to_string(size - h.lead_length) +
                                                    " bytes are not whole 4096-byte blocks");
    if (report.problems.size() == before && !facts.layout_fits)
        report.problem("layout", "the download cannot walk this layout");
}

void check_chips(FileReport& report, const std::string& role) {
    ImageFacts& facts = report.image;
    bool variant_known = false;
    find_fits(facts, variant_known);
    std::string variant = std::to_string(facts.header.chip_variant);
    if (!variant_known)
        report.problem("unknown-variant", "chip variant " + variant +
                                              " fits no chip (chips take 2, 3, 12, 13, 21, 22)");
    else if (facts.fits.empty())
        report.problem(
            "format-fits-no-chip",
            std::string("no chip of variant ") + variant + " takes a " + facts.format +
                "-format image" +
                (facts.header.image_type == IMAGE_TYPE_RESCUE_IN_MAIN ? " marked 0xFE" : ""));
    if (!role.empty() && facts.role != role)
        report.problem("wrong-slot",
                       "this is a " + std::string(facts.role) + " image, not a " + role + " image");
}

// The version and date the name promises, read as vtx_fwupdate reads them.
void read_name_version(const std::string& path, ImageFacts& facts) {
    ExpectedVersion expected;
    if (parse_expected_version(path, expected) != EXPECTED_FOUND)
        return;
    facts.name_version_found = true;
    facts.name_version = expected.version;
    facts.name_date = expected.date;
}

// After the update the bridge reports the version in the image's header, and
// the next run compares that with the file name, as the device check does.
void check_name_against_header(FileReport& report) {
    const ImageFacts& facts = report.image;
    if (std::string(facts.role) != "firmware" || !facts.name_version_found)
        return;
    CurrentVersion header = current_version_texts(facts.header_version);
    if (header.version == facts.name_version && header.date == facts.name_date)
        return;
    report.warning("name-differs-from-header",
                   "the header says version " + header.version + ", build date " +
                       printable(header.date) + " but the file name says " + facts.name_version +
                       ", " + printable(facts.name_date) +
                       ": vtx_fwupdate would flash this image again on every run");
}

}  // namespace

bool not_a_regular_file(const std::string& path, Finding& failure) {
    std::error_code ignored;
    auto status = std::filesystem::status(native_path(path), ignored);
    if (status.type() == std::filesystem::file_type::not_found ||
        status.type() == std::filesystem::file_type::regular) {
        return false;
    }
    failure = {"not-a-file", status.type() == std::filesystem::file_type::directory
                                 ? "a directory, not a regular file"
                                 : "not a regular file"};
    return true;
}

bool file_size_of(const std::string& path, uint64_t& size) {
    return bool(open_regular_file(path.c_str(), "rb", &size));
}

void check_image(FileReport& report, const std::string& role) {
    ImageFacts& facts = report.image;
    File file(open_regular_file(report.path.c_str(), "rb", &facts.size));
    if (!file) {
        report.problem("cannot-open", "cannot open the file");
        return;
    }
    if (facts.size > IMAGE_SIZE_LIMIT) {
        report.problem("too-large", "larger than any image the bridge's flash holds");
        return;
    }
    if (!read_lead_block(file.get(), facts)) {
        report.problem("short-file", "only " + std::to_string(facts.size) +
                                         " bytes: the reader needs a 4096-byte leading block");
        return;
    }
    facts.format = facts.header.signature == MODE_MAIN     ? "main"
                   : facts.header.signature == MODE_RESCUE ? "rescue"
                                                           : "unknown";
    facts.role = role_of(facts.header);
    read_name_version(report.path, facts);
    // The reader stops at a short leading block before it looks at anything.
    if (facts.size < IMAGE_LEAD_BLOCK) {
        report.problem("short-file", "only " + std::to_string(facts.size) +
                                         " bytes: the reader needs a 4096-byte leading block");
        return;
    }
    if (facts.role[0] == '\0')
        report.problem("unknown-signature", "signature " + hex32(facts.header.signature) +
                                                " is neither the main (0x97463136) nor the "
                                                "rescue format (0x79817981)");
    check_payload(file.get(), report);
    check_layout(report);
    if (facts.role[0] != '\0')
        check_chips(report, role);
    if (std::string(facts.role) == "firmware" && !facts.name_version_found)
        report.warning("name-without-version",
                       "the file name has no \"_v<major>.<minor>.<patch>.<date>\": vtx_fwupdate "
                       "stops when it is the firmware image");
    check_name_against_header(report);
}

}  // namespace vtx::companion
