// The applier behind description files and state files: how a section's
// values are read and checked, and the builder of a bridge. Internal to sim/.
#pragma once

#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/sim_config.h"

namespace vtx::sim::detail {

constexpr size_t MAX_TEXT = 1024;

template <class C, class T>
struct Field {
    const char* key;
    T C::*member;
};

// One value of an entry, with the reason when it is not what the key takes.
struct Value {
    const Entry& entry;
    std::string& reason;

    bool single(std::string& out) const {
        if (entry.items.size() != 1)
            return fail("takes one value");
        out = entry.items[0];
        if (out.size() > MAX_TEXT)
            return fail("is longer than " + std::to_string(MAX_TEXT));
        return true;
    }
    bool fail(const std::string& why) const {
        reason = "'" + entry.key + "' " + why;
        return false;
    }
    bool get(std::string& out) const { return single(out); }
    bool get(bool& out) const {
        std::string text;
        return single(text) && (parse_flag(text, out) || fail("takes yes or no"));
    }
    template <class T>
    bool unsigned_number(T& out) const {
        std::string text;
        uint64_t value;
        if (!single(text))
            return false;
        if (!parse_u64(text, std::numeric_limits<T>::max(), value)) {
            return fail("takes a number from 0 to " +
                        std::to_string(uint64_t(std::numeric_limits<T>::max())));
        }
        out = T(value);
        return true;
    }
    bool get(uint8_t& out) const { return unsigned_number(out); }
    bool get(uint16_t& out) const { return unsigned_number(out); }
    bool get(uint32_t& out) const { return unsigned_number(out); }
    bool get(uint64_t& out) const { return unsigned_number(out); }
    // -1 for "any" or "all"; otherwise min to max.
    bool number(int64_t min, int64_t max, int64_t& out) const {
        std::string text;
        if (!single(text))
            return false;
        if (min < 0 && (text == "any" || text == "all")) {
            out = -1;
            return true;
        }
        return parse_i64(text, min, max, out) ||
               fail("takes a number from " + std::to_string(min) + " to " + std::to_string(max));
    }
};

// 1: the key named a field and was set; 0: not one of these; -1: bad value.
template <class C, class T, size_t N>
int set_field(const Field<C, T> (&fields)[N], C& config, const Value& value) {
    for (const auto& field : fields) {
        if (value.entry.key == field.key)
            return value.get(config.*field.member) ? 1 : -1;
    }
    return 0;
}

// A bridge as its section describes it, built when the section ends.
struct BridgeBuild {
    BridgeConfig config;
    DriveConfig drive;
    bool has_drive = true;
    int drive_line = 0;
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> pages;
    std::string image;                 // image file to install
    std::vector<uint8_t> image_bytes;  // its content, read at its line
    std::string firmware;              // or an image made here: main, rescue, rescue_in_main
    ImageRecipe recipe = SIM_IMAGE_RECIPE;
    std::optional<std::vector<uint8_t>> parameters;
    int64_t restart_count = 0;
    int64_t next_return_path = 0;
    // The running state, from state files.
    bool runtime = false;
    bool powered = true;
    bool on_bus = true;
    std::optional<int64_t> returning_at_ms;
    uint8_t mode = 0;
    std::vector<uint8_t> running_header;
    std::optional<uint32_t> pending_address;
    int64_t identity_failures_left = 0;
};

class Applier {
  public:
    Applier(World& world, std::string base) : world_(world), base_(std::move(base)) {}
    bool apply(const Section& section, std::string& error);

  private:
    bool platform_entry(const Entry& entry, std::string& reason);
    bool bridge_entry(BridgeBuild& build, const Entry& entry, std::string& reason);
    bool drive_entry(BridgeBuild& build, const Entry& entry, std::string& reason);
    bool firmware_entry(BridgeBuild& build, const Entry& entry, std::string& reason);
    bool state_entry(BridgeBuild& build, const Entry& entry, std::string& reason);
    bool fault_entry(ActiveFault& fault, const Entry& entry, std::string& reason);
    bool finish_bridge(BridgeBuild& build, const Section& section, std::string& reason);
    void start_bridge(BridgeBuild& build, const std::string& name);
    bool path_free(const std::string& path, std::string& reason) const;
    std::string resolve(const std::string& file) const;

    World& world_;
    std::string base_;
};

}  // namespace vtx::sim::detail
