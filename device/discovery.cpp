// Device discovery: the USB drives of this computer, asked one by one whether
// they are bridges this tool can update, kept in a fixed order.
#include "device/discovery.h"

#include <algorithm>
#include <memory>
#include <new>

#include "device/bridge.h"
#include "device/drive.h"
#include "device/platform/platform.h"
#include "device/transport.h"

namespace vtx {

namespace {

constexpr int CANDIDATES_PER_PASS = 24;
constexpr size_t NAME_BUFFER = 512;

// A candidate whose node or path copy cannot be allocated is left out rather
// than kept with a missing path.
CandidatePath* make_candidate(const std::string& path, int pass) {
    std::unique_ptr<CandidatePath> node(new (std::nothrow) CandidatePath);
    if (!node)
        return nullptr;
    try {
        node->path = path;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    node->is_volume = uint8_t(pass);
    return node.release();
}

// Whether the device at `path` opens and sits on USB.
bool usb_device(Platform& layer, const std::string& path) {
    const OsHandle handle = layer.open_device(path.c_str());
    if (handle == INVALID_OS_HANDLE)
        return false;
    const bool usb = layer.is_usb(handle);
    layer.close_device(handle);
    return usb;
}

// The drive identity, read through the bridge. A drive that is absent, not
// ready or does not report its capacity leaves the fields zero; the bridge is
// listed all the same.
void collect_identity(DeviceHandle& handle, DeviceEntry& entry) {
    AttachmentStatus status;
    if (dev_query_attachment(&handle, &status) != 0)
        return;
    if (status.drive_state != 1 && status.drive_state != 3)
        return;
    uint64_t last_lba = 0;
    uint32_t block_length = 0;
    if (dev_read_capacity(&handle, &last_lba, &block_length) != 0)
        return;
    // The IDENTIFY reads below transfer one block of this length.
    handle.block_length = block_length;

    char strings[ATA_STRINGS_SIZE] = {};
    dev_read_ata_strings(&handle, strings);
    std::copy_n(strings, 20, entry.serial);
    std::copy_n(strings + 21, 8, entry.firmware);
    std::copy_n(strings + 30, 40, entry.model);
    dev_read_info_block(&handle, entry.info_block);
    if (status.drive_kind == 1)
        dev_read_ata_security(&handle, entry.security);
}

// The entry for an opened candidate, or none when it is not a bridge we
// list.
DeviceEntry* admit(DeviceHandle& handle, const CandidatePath& candidate) {
    if (!dev_is_bridge(&handle))
        return nullptr;
    // A lettered volume stands for a bridge only when it presents an optical
    // drive; any other volume is the same bridge seen through its disk.
    if (candidate.is_volume == 1 && dev_check_optical(&handle) == 0)
        return nullptr;

    std::unique_ptr<DeviceEntry> entry(new (std::nothrow) DeviceEntry);
    if (!entry)
        return nullptr;
    collect_identity(handle, *entry);

    char name[NAME_BUFFER] = {};
    if (dev_get_name(&handle, name) != 0)
        return nullptr;
    try {
        entry->path = candidate.path;
        entry->name = name;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    entry->reserved = 0;
    entry->next = nullptr;
    return entry.release();
}

DeviceEntry* probe(const CandidatePath& candidate) {
    DeviceHandle handle;  // temporary: lives for this candidate only
    handle.device = dev_open_raw(candidate.path.c_str());
    if (!handle.device)
        return nullptr;
    DeviceEntry* entry = admit(handle, candidate);
    dev_close_raw(handle.device);
    return entry;
}

}  // namespace

CandidatePath* dev_enumerate() {
    Platform& layer = platform();
    CandidatePath* head = nullptr;
    CandidatePath** tail = &head;
    // Physical drives first, then lettered volumes, each in index order.
    for (int pass = 0; pass < 2; ++pass) {
        for (int index = 0; index < CANDIDATES_PER_PASS; ++index) {
            std::string path;
            try {
                path = layer.candidate_path(pass, index);
            } catch (const std::bad_alloc&) {
                continue;
            }
            if (path.empty() || !usb_device(layer, path))
                continue;
            CandidatePath* node = make_candidate(path, pass);
            if (!node)
                continue;
            *tail = node;
            tail = &node->next;
        }
    }
    return head;
}

void dev_free_candidates(CandidatePath* head) {
    while (head) {
        std::unique_ptr<CandidatePath> node(head);
        head = head->next;
    }
}

DeviceEntry* dev_scan() {
    CandidatePath* candidates = dev_enumerate();
    DeviceEntry* head = nullptr;
    DeviceEntry** tail = &head;
    for (const CandidatePath* candidate = candidates; candidate; candidate = candidate->next) {
        DeviceEntry* entry = probe(*candidate);
        if (!entry)
            continue;
        *tail = entry;
        tail = &entry->next;
    }
    dev_free_candidates(candidates);
    return head;
}

void dev_free_list(DeviceEntry* head) {
    while (head) {
        std::unique_ptr<DeviceEntry> entry(head);
        head = head->next;
    }
}

}  // namespace vtx
