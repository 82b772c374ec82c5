// vtx_vmprobe: the VM rig's own client of the device layer, linked against
// vtx_device as the update tool is. It lists what discovery finds and sends
// single commands through dev_send, printing results in a form the guest's
// scenario scripts compare.
//
//   vtx_vmprobe enumerate              candidates: "<pass> <path>"
//   vtx_vmprobe scan                   bridges: "<path>|<name>|<serial>|<model>"
//   vtx_vmprobe send PATH CDB-HEX in LENGTH
//   vtx_vmprobe send PATH CDB-HEX out DATA-HEX
//       prints "result <code>", then "data <hex>" for data-in and
//       "sense <hex>" (18 bytes)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/discovery.h"
#include "device/transport.h"

namespace {

using namespace vtx;

bool parse_hex(const std::string& hex, std::vector<uint8_t>& bytes) {
    if (hex.size() % 2 != 0)
        return false;
    bytes.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        char* end = nullptr;
        std::string pair = hex.substr(i, 2);
        bytes.push_back(uint8_t(std::strtoul(pair.c_str(), &end, 16)));
        if (*end != '\0')
            return false;
    }
    return true;
}

void print_hex(const char* label, const uint8_t* bytes, size_t length) {
    std::printf("%s ", label);
    for (size_t i = 0; i < length; ++i)
        std::printf("%02x", bytes[i]);
    std::printf("\n");
}

int enumerate() {
    CandidatePath* head = dev_enumerate();
    for (CandidatePath* c = head; c; c = c->next)
        std::printf("%d %s\n", c->is_volume, c->path.c_str());
    dev_free_candidates(head);
    return 0;
}

int scan() {
    DeviceEntry* head = dev_scan();
    for (DeviceEntry* e = head; e; e = e->next) {
        std::printf("%s|%s|%s|%s\n", e->path.c_str(), e->name.c_str(), e->serial, e->model);
    }
    int found = head ? 0 : 3;
    dev_free_list(head);
    return found;
}

int send(int argc, char** argv) {
    VendorCommand command;
    std::vector<uint8_t> cdb, data;
    if (argc != 6 || !parse_hex(argv[3], cdb) || cdb.empty() || cdb.size() > 16)
        return 2;
    std::memcpy(command.cdb, cdb.data(), cdb.size());
    bool data_in = std::strcmp(argv[4], "in") == 0;
    if (data_in) {
        data.assign(std::strtoul(argv[5], nullptr, 0), 0);
    } else if (std::strcmp(argv[4], "out") != 0 || !parse_hex(argv[5], data)) {
        return 2;
    }
    DeviceHandle* handle = dev_open(argv[2]);
    if (handle == nullptr) {
        std::printf("open failed\n");
        return 1;
    }
    uint8_t sense[18] = {};
    int result = dev_send(handle, command, data.empty() ? nullptr : data.data(),
                          int32_t(data.size()), data_in ? DIR_IN : DIR_OUT, DEV_TIMEOUT, sense);
    dev_close(handle);
    std::printf("result %d\n", result);
    if (data_in)
        print_hex("data", data.data(), data.size());
    print_hex("sense", sense, sizeof sense);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string verb = argc > 1 ? argv[1] : "";
    int status = 2;
    if (verb == "enumerate" && argc == 2)
        status = enumerate();
    else if (verb == "scan" && argc == 2)
        status = scan();
    else if (verb == "send")
        status = send(argc, argv);
    if (status == 2) {
        std::fputs(
            "usage: vtx_vmprobe enumerate | scan | send PATH CDB-HEX (in LENGTH | out DATA-HEX)\n",
            stderr);
    }
    return status;
}
