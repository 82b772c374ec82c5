// Linux: opening a drive and one SCSI command through SG_IO.
//
// The kernel refuses vendor opcodes sent through SG_IO on a block node
// (/dev/sdX, /dev/srN) unless the caller holds CAP_SYS_RAWIO, while the SCSI
// generic node of the same device, opened for read and write, passes them. So
// a block node is opened through the sg node that sysfs names for it, and the
// block node itself is the fallback when the sg driver is not loaded.
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <vector>

#include "device/platform/linux_platform.h"
#include "device/platform/linux_sg_status.h"

namespace vtx {

namespace {

namespace fs = std::filesystem;

constexpr unsigned char SENSE_LENGTH = 32;

// The sg node that sysfs lists for the block device `name`, or "" when there
// is none.
std::string generic_node_name(const std::string& sys_root, const std::string& name) {
    const fs::path dir = fs::path(sys_root) / "block" / name / "device" / "scsi_generic";
    std::vector<std::string> nodes;
    linux_list_directory(dir.string(), nodes);
    for (const std::string& node : nodes) {
        if (node.rfind("sg", 0) == 0)
            return node;
    }
    return {};
}

}  // namespace

LinuxPlatform::LinuxPlatform(std::string dev_root, std::string sys_root)
    : dev_root_(std::move(dev_root)), sys_root_(std::move(sys_root)) {}

OsHandle LinuxPlatform::open_device(const char* path) {
    std::string target = path;
    const std::string generic = generic_node_name(sys_root_, fs::path(path).filename().string());
    if (!generic.empty()) {
        const std::string node = (fs::path(dev_root_) / generic).string();
        if (access(node.c_str(), F_OK) == 0)
            target = node;
    }
    // O_NONBLOCK: an sg node must not wait for a medium; SG_IO still blocks
    // until the command completes.
    const int fd = open(target.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        last_error_ = errno;
        return INVALID_OS_HANDLE;
    }
    return fd;
}

bool LinuxPlatform::close_device(OsHandle handle) {
    if (close(int(handle)) == 0)
        return true;
    last_error_ = errno;
    return false;
}

bool LinuxPlatform::pass_through(OsHandle handle, ScsiCommand& command) {
    sg_io_hdr_t header = {};
    header.interface_id = 'S';
    header.cmdp = command.cdb;
    header.cmd_len = sizeof command.cdb;
    header.sbp = command.sense;
    header.mx_sb_len = SENSE_LENGTH;
    header.dxferp = command.data;
    header.dxfer_len = command.length;
    if (command.length == 0) {
        header.dxfer_direction = SG_DXFER_NONE;
    } else {
        header.dxfer_direction = command.data_in ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
    }
    header.timeout = command.timeout_s > UINT_MAX / 1000 ? UINT_MAX : command.timeout_s * 1000;

    if (ioctl(int(handle), SG_IO, &header) < 0) {
        last_error_ = errno;
        return false;
    }
    command.scsi_status = header.status;
    command.residual = sg_residual(header.resid, command.length);
    // SG_IO returns 0 also for a command that timed out or was lost on the
    // way; such a command did not complete and must not pass for success.
    const int error = sg_transport_error(header.host_status, header.driver_status);
    if (error != 0) {
        last_error_ = error;
        return false;
    }
    return true;
}

int LinuxPlatform::last_error() {
    return last_error_;
}

// EIO stands where Windows gives ERROR_GEN_FAILURE: the error of a command
// that went wrong in the transport, the one dev_send tries again.
int LinuxPlatform::general_failure_code() const {
    return EIO;
}

}  // namespace vtx
