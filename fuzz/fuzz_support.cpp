#include "fuzz/fuzz_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>

#include "vtx/bytes.h"
#include "vtx/file.h"
#include "vtx/records.h"

namespace vtx::fuzz {

namespace {

// The ways a command can end, by the control byte it takes. Half of the
// values leave the command alone, so a random input still gets far into a
// run before it goes astray.
enum class ReplyChange { kNone, kPatch, kReplace, kCheckCondition, kGeneralFailure, kOtherError };

ReplyChange change_for(uint8_t control) {
    switch (control % 16) {
        case 8:
        case 9:
            return ReplyChange::kPatch;
        case 10:
        case 11:
            return ReplyChange::kReplace;
        case 12:
        case 13:
            return ReplyChange::kCheckCondition;
        case 14:
            return ReplyChange::kGeneralFailure;
        case 15:
            return ReplyChange::kOtherError;
        default:
            return ReplyChange::kNone;
    }
}

void remove_scratch_dir() {
    std::error_code error;
    std::filesystem::remove_all(scratch_dir(), error);
}

}  // namespace

uint8_t InputReader::byte() {
    return position_ < size_ ? data_[position_++] : 0;
}

uint32_t InputReader::le32() {
    uint8_t word[4] = {byte(), byte(), byte(), byte()};
    return load_le32(word);
}

std::vector<uint8_t> InputReader::bytes(size_t n) {
    size_t take = std::min(n, size_ - std::min(position_, size_));
    std::vector<uint8_t> out(data_ + position_, data_ + position_ + take);
    position_ += take;
    return out;
}

std::vector<uint8_t> InputReader::rest() {
    return bytes(size_);
}

const std::string& scratch_dir() {
    // Never destroyed: the exit handler that removes the directory reads it.
    static const std::string& dir = *new std::string([] {
        std::error_code error;
        auto base = std::filesystem::temp_directory_path(error);
        if (error)
            base = ".";
        // Fuzzers and replays run side by side: each process takes a
        // directory of its own and removes it when it ends.
        std::string name = "vtx_fuzz_" + std::to_string(std::random_device{}());
        auto path = base / name;
        std::filesystem::create_directories(path, error);
        std::atexit(remove_scratch_dir);
        return path.string();
    }());
    return dir;
}

std::string scratch_file(const std::string& name, const uint8_t* data, size_t size) {
    std::string path = (std::filesystem::path(scratch_dir()) / name).string();
    File file(std::fopen(path.c_str(), "wb"));
    if (!file)
        broken_promise("the scratch file can be written", __FILE__, __LINE__);
    if (size > 0 && std::fwrite(data, 1, size, file.get()) != size)
        broken_promise("the scratch file can be written", __FILE__, __LINE__);
    return path;
}

std::string scratch_file(const std::string& name, const std::vector<uint8_t>& bytes) {
    return scratch_file(name, bytes.data(), bytes.size());
}

const Console& null_console() {
#ifdef _WIN32
    const char* null_device = "NUL";
#else
    const char* null_device = "/dev/null";
#endif
    // VTX_FUZZ_SHOW=1 shows what a run prints, to triage a saved input.
    static const Console console =
        std::getenv("VTX_FUZZ_SHOW")
            ? Console{stdout, stderr, std::fopen(null_device, "r")}
            : Console{std::fopen(null_device, "w"), std::fopen(null_device, "w"),
                      std::fopen(null_device, "r")};
    return console;
}

void broken_promise(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: broken promise: %s\n", file, line, what);
    std::fflush(stderr);
    std::abort();
}

bool ReplySim::pass_through(OsHandle handle, ScsiCommand& command) {
    ReplyChange change = change_for(input_.byte());
    if (change == ReplyChange::kCheckCondition || change == ReplyChange::kGeneralFailure ||
        change == ReplyChange::kOtherError) {
        // The sim's own fault machinery fails the command, so the trace, the
        // error code and "a failing command has no effect" stay consistent.
        sim::CommandFault fault;
        fault.index = command_count();
        if (change == ReplyChange::kCheckCondition) {
            fault.scsi_status = 2;
            fault.sense_key = input_.byte();
            fault.asc = input_.byte();
            fault.ascq = input_.byte();
        } else if (change == ReplyChange::kGeneralFailure) {
            fault.platform_error = general_failure_code();
        } else {
            uint8_t code = input_.byte();
            fault.platform_error = code == 0 ? sim::SIM_ERROR_SEM_TIMEOUT : code;
        }
        add_fault(fault);
        ++changed_;
        return SimPlatform::pass_through(handle, command);
    }
    bool ok = SimPlatform::pass_through(handle, command);
    if (change == ReplyChange::kNone || !ok || !command.data_in || command.data == nullptr ||
        command.length == 0)
        return ok;
    auto* reply = static_cast<uint8_t*>(command.data);
    if (change == ReplyChange::kPatch) {
        // A few bytes at an offset of the input's choice.
        uint32_t offset = input_.le32() % command.length;
        std::vector<uint8_t> patch =
            input_.bytes(std::min<uint32_t>(input_.byte() % 9, command.length - offset));
        std::copy(patch.begin(), patch.end(), reply + offset);
    } else {
        // The whole reply from the input; a short input leaves the rest zero,
        // as a reply zero-filled by its caller and answered short would be.
        std::vector<uint8_t> bytes = input_.bytes(command.length);
        std::fill(reply, reply + command.length, 0);
        std::copy(bytes.begin(), bytes.end(), reply);
    }
    ++changed_;
    return ok;
}

sim::BridgeConfig bridge_config_from(InputReader& input) {
    static const uint32_t chip_ids[] = {0xA0010001, 0xA0010002, 0xA0010003, 0xA0010004,
                                        0xA0020000, 0xA0020001, 0xA0020002, 0xA0020003,
                                        0xA0030000, 0xA0030001, 0xA0030002, 0xFFFFFFFF};
    static const char* const revisions[] = {"1.00", "2.00", "1.01", "2.01",
                                            "1.02", "2.02", "3.00", "8.07"};
    static const char* const models[] = {"VTX4500", "VTX4600", "VTX4700", "VTX9999"};
    uint8_t a = input.byte(), b = input.byte(), c = input.byte(), d = input.byte();
    sim::BridgeConfig config;
    config.chip_id = chip_ids[a % 12];
    config.revision = revisions[(a >> 4) % 8];
    config.model = models[b % 4];
    config.chip_rev_register = uint32_t((b >> 2) % 0x34) << 16;
    config.answers_identity_query = (c & 1) == 0;
    config.identity = (c & 2) ? 0xFFFFFFFF : 0x5A17C0DE;
    static const uint32_t transfers[] = {65536, 131072, 8192, 4096, 6144, 0, 1, 0xFFFFFFFF};
    if ((c >> 2) % 9 == 8)
        config.max_transfer_reply.reset();
    else
        config.max_transfer_reply = transfers[(c >> 2) % 8];
    if (d & 1)
        config.drive.reset();
    else {
        static const uint32_t blocks[] = {512, 4096, 0, 1, 256, 511, 65535, 65536};
        config.drive->block_length = blocks[(d >> 1) % 8];
        config.drive->drive_state = (d >> 4) % 4;
        config.drive->drive_kind = (d >> 6) % 2;
        config.drive->capacity_fails = (d >> 7) != 0;
    }
    return config;
}

}  // namespace vtx::fuzz
