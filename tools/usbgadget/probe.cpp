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
//   vtx_vmprobe run PATH               one handle, one command per line of
//       standard input ("CDB-HEX in LENGTH" or "CDB-HEX out DATA-HEX")
//   vtx_vmprobe property PATH...       (Windows) each drive's storage device
//       descriptor, as discovery asks for it (see property below)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/discovery.h"
#include "device/transport.h"

#ifdef _WIN32
#include <windows.h>

#include <winioctl.h>
#endif

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

// One command on an opened device: CDB, "in" LENGTH or "out" DATA-HEX.
// Prints its outcome; 2 when the words do not make a command.
int send_one(DeviceHandle* handle, const char* cdb_hex, const char* direction, const char* arg) {
    VendorCommand command;
    std::vector<uint8_t> cdb, data;
    if (!parse_hex(cdb_hex, cdb) || cdb.empty() || cdb.size() > 16)
        return 2;
    std::memcpy(command.cdb, cdb.data(), cdb.size());
    bool data_in = std::strcmp(direction, "in") == 0;
    if (data_in) {
        data.assign(std::strtoul(arg, nullptr, 0), 0);
    } else if (std::strcmp(direction, "out") != 0 || !parse_hex(arg, data)) {
        return 2;
    }
    uint8_t sense[18] = {};
    int result = dev_send(handle, command, data.empty() ? nullptr : data.data(),
                          int32_t(data.size()), data_in ? DIR_IN : DIR_OUT, DEV_TIMEOUT, sense);
    std::printf("result %d\n", result);
    if (data_in)
        print_hex("data", data.data(), data.size());
    print_hex("sense", sense, sizeof sense);
    return 0;
}

// send PATH CDB DIRECTION ARG, or run PATH with one "CDB DIRECTION ARG" line
// per command on standard input, all through one handle.
int send(int argc, char** argv, bool from_input) {
    if (argc != (from_input ? 3 : 6))
        return 2;
    DeviceHandle* handle = dev_open(argv[2]);
    if (handle == nullptr) {
        std::printf("open failed\n");
        return 1;
    }
    int status = 0;
    if (!from_input) {
        status = send_one(handle, argv[3], argv[4], argv[5]);
    } else {
        static char line[1 << 17], arg[1 << 17];
        char cdb[40], direction[4];
        while (status == 0 && std::fgets(line, sizeof line, stdin)) {
            if (std::sscanf(line, "%39s %3s %131071s", cdb, direction, arg) != 3)
                continue;
            status = send_one(handle, cdb, direction, arg);
        }
    }
    dev_close(handle);
    return status;
}

#ifdef _WIN32
// What the platform answers to discovery's bus type question, whole: asked
// as discovery asks it, of drives opened as discovery opens them. One line
// per path: "PATH open failed ERROR", "PATH query failed ERROR" or
// "PATH bus TYPE descriptor HEX".
void property(const char* path) {
    HANDLE drive =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    if (drive == INVALID_HANDLE_VALUE) {
        std::printf("%s open failed %lu\n", path, GetLastError());
        return;
    }
    STORAGE_PROPERTY_QUERY query = {};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    STORAGE_DEVICE_DESCRIPTOR descriptor = {};
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(drive, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query,
                              &descriptor, sizeof descriptor, &returned, nullptr);
    DWORD error = ok ? 0 : GetLastError();
    CloseHandle(drive);
    if (!ok) {
        std::printf("%s query failed %lu\n", path, error);
        return;
    }
    std::printf("%s bus %u ", path, unsigned(descriptor.BusType));
    print_hex("descriptor", reinterpret_cast<const uint8_t*>(&descriptor), returned);
}
#endif

}  // namespace

int main(int argc, char** argv) {
    std::string verb = argc > 1 ? argv[1] : "";
    int status = 2;
    if (verb == "enumerate" && argc == 2)
        status = enumerate();
    else if (verb == "scan" && argc == 2)
        status = scan();
    else if (verb == "send" || verb == "run")
        status = send(argc, argv, verb == "run");
#ifdef _WIN32
    else if (verb == "property" && argc > 2) {
        for (int i = 2; i < argc; ++i)
            property(argv[i]);
        status = 0;
    }
#endif
    if (status == 2) {
        std::fputs(
            "usage: vtx_vmprobe enumerate | scan | send PATH CDB-HEX (in LENGTH | out DATA-HEX)"
            " | run PATH | property PATH...\n",
            stderr);
    }
    return status;
}
