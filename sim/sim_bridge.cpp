// One simulated bridge: its sparse flash, the boot rule that picks the
// firmware it runs, and its life on the bus across restarts.
#include <algorithm>
#include <cmath>

#include "sim/sim_internal.h"
#include "vtx/bytes.h"

namespace vtx::sim {

namespace {

// A payload longer than this does not fit the chip's flash: the boot loader
// treats its header as damaged instead of summing gigabytes of erased pages.
constexpr uint64_t MAX_PAYLOAD = 16u << 20;
constexpr uint32_t PARAMETER_HALF = HEADER_BLOCK_ADDRESS + HEADER_HALF_SIZE;

// Calls visit(page, offset in the page, bytes, offset in the range) for each
// page the range touches, in order; the range stops at the end of the
// address space.
template <class Visit>
void for_each_page(uint32_t address, uint32_t length, Visit visit) {
    uint64_t position = address;
    uint64_t end = std::min<uint64_t>(uint64_t(address) + length, uint64_t(1) << 32);
    while (position < end) {
        uint32_t page = uint32_t(position) & ~(FLASH_UNIT - 1);
        uint32_t offset = uint32_t(position) - page;
        uint32_t n = uint32_t(std::min<uint64_t>(FLASH_UNIT - offset, end - position));
        visit(page, offset, n, size_t(position - address));
        position += n;
    }
}

}  // namespace

std::vector<uint8_t> Bridge::State::read(uint32_t address, uint32_t length) const {
    std::vector<uint8_t> out(length, 0xFF);
    for_each_page(address, length, [&](uint32_t page, uint32_t offset, uint32_t n, size_t at) {
        auto found = flash.find(page);
        if (found != flash.end())
            std::copy_n(found->second.begin() + offset, n, out.begin() + at);
    });
    return out;
}

void Bridge::State::write(uint32_t address, const uint8_t* data, uint32_t length) {
    for_each_page(address, length, [&](uint32_t page, uint32_t offset, uint32_t n, size_t at) {
        auto& bytes = flash[page];
        if (bytes.empty())
            bytes.assign(FLASH_UNIT, 0xFF);
        std::copy_n(data + at, n, bytes.begin() + offset);
    });
}

// The payload's file range, mapped onto flash the way the download placed
// it: the body from body_address, the lead region from lead_address.
bool Bridge::State::payload_intact(const ImageHeader& header) const {
    if (header.payload_length > MAX_PAYLOAD)
        return false;
    uint64_t offset = header.payload_offset;
    uint64_t end = offset + header.payload_length;
    uint32_t crc = 0;
    while (offset < end) {
        uint64_t address;
        uint64_t span;
        if (offset >= header.body_offset) {
            address = header.body_address + (offset - header.body_offset);
            span = end - offset;
        } else if (offset < header.lead_length) {
            address = header.lead_address + offset;
            span = std::min<uint64_t>({end, header.lead_length, header.body_offset}) - offset;
        } else {
            return false;  // a gap between the regions holds no flash
        }
        if (address + span > (uint64_t(1) << 32))
            return false;
        while (span > 0) {
            uint32_t n = uint32_t(std::min<uint64_t>(span, 65536));
            std::vector<uint8_t> bytes = read(uint32_t(address), n);
            crc = crc32(bytes.data(), n, crc);
            address += n;
            offset += n;
            span -= n;
        }
    }
    return crc == header.payload_crc;
}

uint8_t Bridge::State::boot_mode(const std::vector<uint8_t>& header_bytes) const {
    ImageHeader header = image_header_from_bytes(header_bytes.data());
    bool main_format = header.signature == MODE_MAIN;
    if (!main_format && header.signature != MODE_RESCUE)
        return 0;
    if (!payload_intact(header))
        return 0;
    if (main_format && header.image_type != IMAGE_TYPE_RESCUE_IN_MAIN)
        return 1;
    return 2;
}

void Bridge::State::boot() {
    powered = true;
    on_bus = true;
    returning = false;
    presence = ++world->presence_counter;
    pending_address.reset();
    identity_failures_left = config.identity_failures_after_boot;
    running_header = read(HEADER_BLOCK_ADDRESS, IMAGE_HEADER_SIZE);
    mode = boot_mode(running_header);
}

void Bridge::State::leave_bus() {
    on_bus = false;
    returning = false;
    presence = 0;
    pending_address.reset();
    identity_failures_left = 0;
}

void Bridge::State::start_restart() {
    if (restart_count < std::numeric_limits<int>::max())
        ++restart_count;
    leave_bus();
    double seconds = config.boot_seconds;
    // Negative (or not a number): it never comes back.
    if (!(seconds >= 0))
        return;
    returning = true;
    back_at_ms = world->now_ms + int64_t(std::llround(std::min(seconds, 1e9) * 1000));
}

void Bridge::State::come_back() {
    if (config.identity_after_restart) {
        config.identity = *config.identity_after_restart;
        config.identity_after_restart.reset();
    }
    if (next_return_path < config.return_paths.size()) {
        const std::string& path = config.return_paths[next_return_path++];
        (detail::is_volume_path(path) ? config.volume_path : config.path) = path;
    }
    boot();
}

// --- The public face ---------------------------------------------------------

Bridge::Bridge(State* state) : state_(state) {}

const BridgeConfig& Bridge::config() const {
    return state_->config;
}
BridgeConfig& Bridge::config() {
    return state_->config;
}

std::vector<uint8_t> Bridge::read_flash(uint32_t address, uint32_t length) const {
    return state_->read(address, length);
}

void Bridge::write_flash(uint32_t address, const uint8_t* data, uint32_t length) {
    state_->write(address, data, length);
}

void Bridge::write_flash(uint32_t address, const std::vector<uint8_t>& data) {
    state_->write(address, data.data(), uint32_t(data.size()));
}

// Regions that stick out of the file are cut at its end, as a download that
// reads short would leave them.
void Bridge::install_image(const std::vector<uint8_t>& file) {
    if (file.size() >= IMAGE_HEADER_SIZE) {
        ImageHeader header = image_header_from_bytes(file.data());
        std::vector<uint8_t> parameters = state_->read(PARAMETER_HALF, HEADER_HALF_SIZE);
        uint64_t size = file.size();
        uint64_t body_length = size > header.lead_length ? size - header.lead_length : 0;
        auto place = [&](uint64_t offset, uint64_t length, uint32_t address) {
            if (offset >= size)
                return;
            length = std::min(length, size - offset);
            state_->write(address, file.data() + offset, uint32_t(length));
        };
        place(header.body_offset, body_length, header.body_address);
        place(header.lead_offset, header.lead_length, header.lead_address);
        state_->write(PARAMETER_HALF, parameters.data(), HEADER_HALF_SIZE);
    }
    boot();
}

void Bridge::set_parameter_area(const std::vector<uint8_t>& area) {
    std::vector<uint8_t> half(HEADER_HALF_SIZE, 0xFF);
    std::copy_n(area.begin(), std::min<size_t>(area.size(), HEADER_HALF_SIZE), half.begin());
    state_->write(PARAMETER_HALF, half.data(), HEADER_HALF_SIZE);
}

std::vector<uint8_t> Bridge::parameter_area() const {
    return state_->read(PARAMETER_HALF, HEADER_HALF_SIZE);
}

uint8_t Bridge::mode_reply() const {
    state_->world->tick();
    return state_->mode;
}

FirmwareVersion Bridge::running_version() const {
    state_->world->tick();
    return firmware_version_from_bytes(state_->running_header.data() + IMAGE_VERSION_OFFSET);
}

bool Bridge::on_bus() const {
    state_->world->tick();
    return state_->on_bus;
}

bool Bridge::powered() const {
    return state_->powered;
}

int Bridge::family() const {
    return state_->family();
}

std::string Bridge::current_path() const {
    state_->world->tick();
    return state_->config.path.empty() ? state_->config.volume_path : state_->config.path;
}

int Bridge::restart_count() const {
    return state_->restart_count;
}

void Bridge::restart() {
    state_->world->tick();
    state_->start_restart();
}

void Bridge::boot() {
    state_->boot();
}

}  // namespace vtx::sim
