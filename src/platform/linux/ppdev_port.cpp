// Claiming a parallel port through ppdev and reaching its registers.
//
// The claim asks for exclusive access first, so that no other driver drives
// the port during a transfer. PPEXCL only records the wish and must precede
// the first PPCLAIM; when another driver such as lp has registered with the
// port, that PPCLAIM fails with ENXIO. The wish stays with the open file, so
// the node is opened again and claimed shared: lp then waits while we hold
// the port.
#include "platform/linux/ppdev_port.h"

#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace {

int open_node(const std::string& path) {
    int fd;
    do {
        fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

int ppdev_claim(int number, std::uint16_t base, ppdev_port& port, const std::string& node_dir) {
    const std::string path = node_dir + "/parport" + std::to_string(number);
    int fd = open_node(path);
    if (fd < 0)
        return errno;
    if (ioctl(fd, PPEXCL) != 0 || ioctl(fd, PPCLAIM) != 0) {
        const int exclusive_error = errno;
        close(fd);
        if (exclusive_error != ENXIO)
            return exclusive_error;
        fd = open_node(path);
        if (fd < 0)
            return errno;
        if (ioctl(fd, PPCLAIM) != 0) {
            // ENXIO again: someone holds the port exclusively. Busy is what
            // the user needs to hear.
            const int error = errno == ENXIO ? EBUSY : errno;
            close(fd);
            return error;
        }
    }

    port = ppdev_port{fd, base};
    return 0;
}

void ppdev_release(ppdev_port& port) {
    if (port.fd < 0)
        return;
    ioctl(port.fd, PPRELEASE);
    close(port.fd);
    port.fd = -1;
}

std::uint8_t ppdev_read(ppdev_port& port, std::uint16_t address) {
    unsigned char value = 0;
    if (address == static_cast<std::uint16_t>(port.base + 1)) {
        if (ioctl(port.fd, PPRSTATUS, &value) == 0)
            port.last_status = value;
        return port.last_status;
    }
    if (address == port.base && ioctl(port.fd, PPRDATA, &value) == 0)
        return value;
    return port.last_status;
}

void ppdev_write(ppdev_port& port, std::uint16_t address, std::uint8_t value) {
    if (address != port.base)
        return;
    unsigned char byte = value;
    ioctl(port.fd, PPWDATA, &byte);
}
