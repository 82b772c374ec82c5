// Linux: the candidate paths of discovery and whether a device sits on USB.
//
// Physical drives are the SCSI disks (sda, sdb, ... in the order the kernel
// names them); the lettered volumes of Windows have their counterpart in the
// optical devices (sr0 to sr23), which is how a bridge that presents a CD-ROM
// shows itself. A device sits on USB when its sysfs device path runs through
// a USB interface directory, named bus-port[.port...]:config.interface.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "device/platform/linux_platform.h"

namespace vtx {

namespace {

namespace fs = std::filesystem;

constexpr int CANDIDATES_PER_PASS = 24;

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
bool is_lower(char c) {
    return c >= 'a' && c <= 'z';
}

// Whether text[from, to) is not empty and every character passes `test`.
bool all_of_class(const std::string& text, size_t from, size_t to, bool (*test)(char)) {
    if (from >= to || to > text.size())
        return false;
    return std::all_of(text.begin() + long(from), text.begin() + long(to), test);
}

// "sd" followed by lower-case letters only: a whole disk, not a partition.
bool disk_name(const std::string& name) {
    return name.size() > 2 && name.rfind("sd", 0) == 0 &&
           all_of_class(name, 2, name.size(), is_lower);
}

// The kernel names disks sda..sdz, then sdaa..sdzz: shorter names first.
bool kernel_order(const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

// Digits, then '.' and digits again any number of times: "1", "1.4.2".
bool dotted_numbers(const std::string& text) {
    size_t start = 0;
    while (true) {
        const size_t dot = text.find('.', start);
        const size_t end = dot == std::string::npos ? text.size() : dot;
        if (!all_of_class(text, start, end, is_digit))
            return false;
        if (dot == std::string::npos)
            return true;
        start = dot + 1;
    }
}

// A USB interface directory: bus-port[.port...]:config.interface, "1-1:1.0".
bool usb_interface_name(const std::string& name) {
    const size_t dash = name.find('-');
    const size_t colon = name.find(':');
    if (dash == std::string::npos || colon == std::string::npos || colon < dash)
        return false;
    const std::string config = name.substr(colon + 1);
    return all_of_class(name, 0, dash, is_digit) &&
           dotted_numbers(name.substr(dash + 1, colon - dash - 1)) &&
           std::count(config.begin(), config.end(), '.') == 1 && dotted_numbers(config);
}

// Whether the sysfs entry `link` resolves to a device path below a USB
// interface. Where the interface directory has a subsystem link (real sysfs
// always does), it must name usb.
bool sysfs_path_is_usb(const fs::path& link) {
    std::error_code error;
    const fs::path resolved = fs::canonical(link, error);
    if (error)
        return false;
    fs::path prefix;
    for (const fs::path& component : resolved) {
        prefix /= component;
        if (!usb_interface_name(component.string()))
            continue;
        const fs::path subsystem = prefix / "subsystem";
        if (!fs::is_symlink(subsystem, error))
            return true;
        const fs::path target = fs::read_symlink(subsystem, error);
        if (!error && target.filename() == "usb")
            return true;
    }
    return false;
}

}  // namespace

bool linux_list_directory(const std::string& dir, std::vector<std::string>& names) {
    names.clear();
    std::error_code error;
    // The error-code forms throughout: a range-for would increment with the
    // throwing operator++, and a directory that goes away while it is read
    // (a bridge unplugged during a scan) must not end the program.
    fs::directory_iterator entry(dir, error);
    for (; !error && entry != fs::directory_iterator(); entry.increment(error))
        names.push_back(entry->path().filename().string());
    if (error)
        names.clear();
    return !error;
}

std::string LinuxPlatform::candidate_path(int pass, int index) {
    if (index < 0 || index >= CANDIDATES_PER_PASS)
        return {};
    const fs::path dev(dev_root_);
    if (pass == 1)
        return (dev / ("sr" + std::to_string(index))).string();
    if (pass != 0)
        return {};

    // A listing cut short gives no disks at all rather than a partial list,
    // whose order would not be the kernel's.
    std::vector<std::string> disks;
    linux_list_directory(dev_root_, disks);
    disks.erase(std::remove_if(disks.begin(), disks.end(),
                               [](const std::string& name) { return !disk_name(name); }),
                disks.end());
    std::sort(disks.begin(), disks.end(), kernel_order);
    if (size_t(index) >= disks.size())
        return {};
    return (dev / disks[size_t(index)]).string();
}

bool LinuxPlatform::is_usb(OsHandle handle) {
    struct stat info = {};
    if (fstat(int(handle), &info) != 0)
        return false;
    // An opened block node or its sg node: sysfs names both by number.
    const char* kind = S_ISBLK(info.st_mode) ? "block" : S_ISCHR(info.st_mode) ? "char" : nullptr;
    if (!kind)
        return false;
    const std::string number =
        std::to_string(major(info.st_rdev)) + ":" + std::to_string(minor(info.st_rdev));
    return sysfs_path_is_usb(fs::path(sys_root_) / "dev" / kind / number);
}

bool LinuxPlatform::block_device_is_usb(const std::string& name) const {
    return sysfs_path_is_usb(fs::path(sys_root_) / "block" / name);
}

}  // namespace vtx
