#include "tools/usbgadget/gadget_tree.h"
#include "vtx/file.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace vtx::gadget {
namespace {

constexpr const char* CONFIGFS_GADGETS = "/sys/kernel/config/usb_gadget";

bool write_attribute(const std::string& path, const std::string& value, std::string& error) {
    File file(std::fopen(path.c_str(), "w"));
    // configfs takes an attribute in one write; a buffered stream flushes it at once on close.
    if (!file || std::fputs(value.c_str(), file.get()) < 0 || std::fflush(file.get()) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool make_dir(const std::string& path, std::string& error) {
    if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST)
        return true;
    error = path + ": " + std::strerror(errno);
    return false;
}

std::string hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value & 0xFFFF);
    return text;
}

}  // namespace

GadgetTree::GadgetTree(std::string name, std::string udc)
    : name_(std::move(name)),
      udc_(std::move(udc)),
      root_(std::string(CONFIGFS_GADGETS) + "/" + name_),
      mount_("/dev/ffs-" + name_) {}

GadgetTree::~GadgetTree() {
    remove();
}

bool GadgetTree::create(const GadgetIdentity& id, std::string& error) {
    created_ = true;
    const std::string strings = root_ + "/strings/0x409";
    const std::string config = root_ + "/configs/c.1";
    const std::string function = root_ + "/functions/ffs." + name_;
    bool ok = make_dir(root_, error) &&
              write_attribute(root_ + "/idVendor", hex4(id.vendor_id), error) &&
              write_attribute(root_ + "/idProduct", hex4(id.product_id), error) &&
              write_attribute(root_ + "/bcdUSB", "0x0200", error) &&
              write_attribute(root_ + "/bcdDevice", "0x0100", error) && make_dir(strings, error) &&
              write_attribute(strings + "/manufacturer", id.manufacturer, error) &&
              write_attribute(strings + "/product", id.product, error) &&
              write_attribute(strings + "/serialnumber", id.serial, error) &&
              make_dir(config, error) && make_dir(config + "/strings/0x409", error) &&
              write_attribute(config + "/strings/0x409/configuration", "Bulk-Only", error) &&
              write_attribute(config + "/MaxPower", "100", error) && make_dir(function, error);
    if (!ok)
        return false;
    if (symlink(function.c_str(), (config + "/ffs." + name_).c_str()) != 0 && errno != EEXIST) {
        error = "link " + function + ": " + std::strerror(errno);
        return false;
    }
    if (!make_dir(mount_, error))
        return false;
    if (mount(name_.c_str(), mount_.c_str(), "functionfs", 0, nullptr) != 0) {
        error = "mount functionfs " + name_ + ": " + std::strerror(errno);
        return false;
    }
    mounted_ = true;
    return true;
}

bool GadgetTree::bind(std::string& error) {
    return write_attribute(root_ + "/UDC", udc_, error);
}

// An empty line unbinds; the FunctionFS instance and its open files stay.
bool GadgetTree::unbind(std::string& error) {
    return write_attribute(root_ + "/UDC", "\n", error);
}

void GadgetTree::remove() {
    if (!created_)
        return;
    created_ = false;
    std::string ignored;
    unbind(ignored);
    if (mounted_) {
        umount2(mount_.c_str(), MNT_DETACH);
        mounted_ = false;
    }
    rmdir(mount_.c_str());
    const std::string config = root_ + "/configs/c.1";
    unlink((config + "/ffs." + name_).c_str());
    rmdir((config + "/strings/0x409").c_str());
    rmdir(config.c_str());
    rmdir((root_ + "/functions/ffs." + name_).c_str());
    rmdir((root_ + "/strings/0x409").c_str());
    rmdir(root_.c_str());
}

}  // namespace vtx::gadget
