// How the Linux layer reads the outcome of an SG_IO call whose ioctl itself
// succeeded: the kernel returns 0 also for a command that timed out or was
// lost between host and device, and says so only in the header's host and
// driver status; and it gives the bytes not moved in resid. Kept apart from
// the ioctl so it can be tested without a device.
#pragma once

#include <cerrno>
#include <cstdint>

namespace vtx {

constexpr unsigned SG_HOST_TIME_OUT = 0x03;  // DID_TIME_OUT
constexpr unsigned SG_DRIVER_STATUS_MASK = 0x0F;
constexpr unsigned SG_DRIVER_TIME_OUT = 0x06;  // DRIVER_TIMEOUT
constexpr unsigned SG_DRIVER_SENSE = 0x08;     // sense data came with the status

// 0 for a command the device completed, whatever its status byte (a CHECK
// CONDITION comes with DRIVER_SENSE); ETIMEDOUT for one that timed out; EIO
// for any other failure on the way.
inline int sg_transport_error(unsigned host_status, unsigned driver_status) {
    const unsigned driver = driver_status & SG_DRIVER_STATUS_MASK;
    if (host_status == SG_HOST_TIME_OUT || driver == SG_DRIVER_TIME_OUT)
        return ETIMEDOUT;
    if (host_status != 0 || (driver != 0 && driver != SG_DRIVER_SENSE))
        return EIO;
    return 0;
}

// The bytes of `length` the device did not move, from the header's resid: a
// driver that counts nothing leaves 0, as does one that says more moved than
// asked (a negative count); a count past the buffer is taken as all of it.
inline uint32_t sg_residual(int resid, uint32_t length) {
    if (resid <= 0)
        return 0;
    return uint32_t(resid) > length ? length : uint32_t(resid);
}

}  // namespace vtx
