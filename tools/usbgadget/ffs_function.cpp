#include "tools/usbgadget/ffs_function.h"

#include <fcntl.h>
#include <linux/usb/functionfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "vtx/bytes.h"

namespace vtx::gadget {
namespace {

constexpr uint8_t DESCRIPTOR_INTERFACE = 4;
constexpr uint8_t DESCRIPTOR_ENDPOINT = 5;
constexpr uint8_t ENDPOINT_BULK = 2;
constexpr uint8_t BULK_IN_ADDRESS = 0x81;
constexpr uint8_t BULK_OUT_ADDRESS = 0x02;

void append_interface(std::vector<uint8_t>& out) {
    // length, type, number, alternate, endpoints, class, subclass, protocol, string
    const uint8_t interface[9] = {9, DESCRIPTOR_INTERFACE, 0, 0, 2, 0x08, 0x06, 0x50, 1};
    out.insert(out.end(), interface, interface + 9);
}

void append_endpoint(std::vector<uint8_t>& out, uint8_t address, uint16_t max_packet) {
    uint8_t endpoint[7] = {7, DESCRIPTOR_ENDPOINT, address, ENDPOINT_BULK, 0, 0, 0};
    store_le16(endpoint + 4, max_packet);
    out.insert(out.end(), endpoint, endpoint + 7);
}

bool write_all(int fd, const std::vector<uint8_t>& bytes) {
    return ::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
}

}  // namespace

std::vector<uint8_t> mass_storage_descriptors() {
    std::vector<uint8_t> out(20, 0);
    store_le32(out.data(), FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    store_le32(out.data() + 8, FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
    store_le32(out.data() + 12, 3);  // full-speed descriptors
    store_le32(out.data() + 16, 3);  // high-speed descriptors
    for (uint16_t packet : {uint16_t(64), uint16_t(512)}) {
        append_interface(out);
        append_endpoint(out, BULK_IN_ADDRESS, packet);
        append_endpoint(out, BULK_OUT_ADDRESS, packet);
    }
    store_le32(out.data() + 4, uint32_t(out.size()));
    return out;
}

std::vector<uint8_t> mass_storage_strings() {
    static const char name[] = "Bulk-Only Mass Storage";
    std::vector<uint8_t> out(18 + sizeof name, 0);
    store_le32(out.data(), FUNCTIONFS_STRINGS_MAGIC);
    store_le32(out.data() + 4, uint32_t(out.size()));
    store_le32(out.data() + 8, 1);        // strings per language
    store_le32(out.data() + 12, 1);       // languages
    store_le16(out.data() + 16, 0x0409);  // English (United States)
    for (size_t i = 0; i < sizeof name; ++i)
        out[18 + i] = uint8_t(name[i]);
    return out;
}

FunctionFs::~FunctionFs() {
    close();
}

bool FunctionFs::open(const std::string& mount, std::string& error) {
    ep0_ = ::open((mount + "/ep0").c_str(), O_RDWR);
    if (ep0_ < 0) {
        error = mount + "/ep0: " + std::strerror(errno);
        return false;
    }
    if (!write_all(ep0_, mass_storage_descriptors()) || !write_all(ep0_, mass_storage_strings())) {
        error = "FunctionFS refused the descriptors: " + std::string(std::strerror(errno));
        return false;
    }
    // The endpoint files exist only from here on, numbered in descriptor order.
    in_ = ::open((mount + "/ep1").c_str(), O_RDWR);
    out_ = ::open((mount + "/ep2").c_str(), O_RDWR);
    if (in_ < 0 || out_ < 0) {
        error = mount + "/ep1, ep2: " + std::strerror(errno);
        return false;
    }
    return true;
}

void FunctionFs::close() {
    for (int* fd : {&in_, &out_, &ep0_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

}  // namespace vtx::gadget
