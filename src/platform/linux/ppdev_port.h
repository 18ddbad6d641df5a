// The kernel's user-space parallel-port interface (ppdev): claiming the port
// through its node /dev/parportN and reading and writing its registers with
// one ioctl each. The registers come back raw, exactly as the hardware shows
// them.
#pragma once

#include <cstdint>
#include <string>

/// Where the ppdev nodes live.
inline constexpr const char* PPDEV_NODE_DIR = "/dev";

/// A claimed port.
struct ppdev_port {
    int fd = -1;
    std::uint16_t base = 0;
    // The last status the port gave: what a failed read returns, so that a
    // failure never looks like an edge of the card's clock. Before the first
    // read it is an idle card that is not ready: Select and Ack high.
    std::uint8_t last_status = 0x7F;
};

/// Opens `node_dir`/parport`number` and claims it: exclusively if possible,
/// else shared when another driver holds the port. Returns 0 with `port`
/// filled in, or the errno of the failure: from open (EACCES, ENOENT, ...),
/// or EBUSY when the port cannot be claimed at all.
int ppdev_claim(int number, std::uint16_t base, ppdev_port& port,
                const std::string& node_dir = PPDEV_NODE_DIR);

/// Releases the claim and closes the node.
void ppdev_release(ppdev_port& port);

/// One ioctl: the status register at base + 1, the data register at base.
/// Any other address, or a failed ioctl, gives the last status read.
std::uint8_t ppdev_read(ppdev_port& port, std::uint16_t address);

/// One ioctl: the data register at base. Other addresses are ignored, and so
/// is a failure, which cannot be reported from here: the card then sees no
/// change on its lines and the link's own timeout ends the transfer.
void ppdev_write(ppdev_port& port, std::uint16_t address, std::uint8_t value);
