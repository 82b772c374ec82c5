// The gadget's configfs tree: one configuration holding one FunctionFS
// function, and the UDC file that binds it to (or unbinds it from) a
// controller.
#pragma once

#include <string>

namespace vtx::gadget {

struct GadgetIdentity {
    unsigned vendor_id = 0x1D6B;
    unsigned product_id = 0x0104;
    std::string manufacturer = "VTX test rig";
    std::string product = "Simulated bridge";
    std::string serial = "VTX0000000001";
};

class GadgetTree {
  public:
    // `name` names the gadget directory and the FunctionFS instance; `udc`
    // is the controller to bind to (dummy_udc.0).
    GadgetTree(std::string name, std::string udc);
    ~GadgetTree();
    GadgetTree(const GadgetTree&) = delete;
    GadgetTree& operator=(const GadgetTree&) = delete;

    // Builds the tree and mounts the function's file system at
    // function_mount(). False with a reason.
    bool create(const GadgetIdentity& identity, std::string& error);
    // Only after the function's descriptors are written.
    bool bind(std::string& error);
    bool unbind(std::string& error);
    // Unbinds, unmounts and removes whatever create() made.
    void remove();

    const std::string& function_mount() const { return mount_; }

  private:
    std::string name_;
    std::string udc_;
    std::string root_;   // /sys/kernel/config/usb_gadget/<name>
    std::string mount_;  // /dev/ffs-<name>
    bool created_ = false;
    bool mounted_ = false;
};

}  // namespace vtx::gadget
