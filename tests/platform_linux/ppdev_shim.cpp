// A stand-in for the kernel's parallel-port support, preloaded (LD_PRELOAD)
// into the unmodified vmurx program so that its real Linux backend runs a
// whole transfer against the software VMU.
//
// It answers what the backend asks the kernel: the list of ports under
// /proc/sys/dev/parport (redirected to a directory the test made), the ppdev
// nodes /dev/parportN (open, close and the ioctls, with the kernel's rules:
// PPEXCL only before the claim, no register access before PPCLAIM, an
// exclusive claim refused with ENXIO while another driver is registered),
// ioperm, and the real-time throttle. The scheduling watch, the report and
// the software VMU are kernel_shim's, shared with the GPIO stand-in.
//
// Configured by the environment, besides kernel_shim.h's variables:
//   VMURX_SHIM_PROCFS      directory standing in for /proc/sys/dev/parport
//   VMURX_SHIM_NODES       comma-separated N whose /dev/parportN exists (default 0)
//   VMURX_SHIM_OPEN_ERRNO  errno for every open of a node (default 0: opens)
//   VMURX_SHIM_HOLDER      none | lp | exclusive: who else has the port
//   VMURX_SHIM_IOPERM_ERRNO  errno of ioperm (default ENOSYS; it never succeeds)
#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "kernel_shim.h"

namespace {

constexpr const char* PROCFS_ROOT = "/proc/sys/dev/parport";
constexpr const char* NODE_PREFIX = "/dev/parport";

struct node_file {
    int fd = -1;
    bool exclusive_wish = false;
    bool claimed = false;
};

struct ppdev_state {
    std::string holder = "none";
    std::vector<int> nodes{0};
    int open_errno = 0;
    int ioperm_errno = ENOSYS;
    std::vector<node_file> files;
};

ppdev_state& ppdev() {
    static ppdev_state* state = new ppdev_state;  // never destroyed: used until the very end
    return *state;
}

// N of a path /dev/parportN, or -1.
int node_number(const char* path) {
    const std::size_t length = std::strlen(NODE_PREFIX);
    if (std::strncmp(path, NODE_PREFIX, length) != 0 || path[length] == '\0')
        return -1;
    int number = 0;
    for (const char* c = path + length; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9')
            return -1;
        number = number * 10 + (*c - '0');
    }
    return number;
}

node_file* find_node(int fd) {
    for (node_file& file : ppdev().files) {
        if (file.fd == fd && fd >= 0)
            return &file;
    }
    return nullptr;
}

int open_node(int number, int flags) {
    shim_configure();
    ppdev_state& p = ppdev();
    count("node_opens");
    bool exists = false;
    for (int node : p.nodes)
        exists = exists || node == number;
    if (!exists) {
        errno = ENOENT;
        return -1;
    }
    if (p.open_errno != 0) {
        errno = p.open_errno;
        return -1;
    }
    if ((flags & O_ACCMODE) != O_RDWR) {
        count("node_opens_not_rdwr");
    }
    REAL(open);
    const int fd = real_open("/dev/null", O_RDWR | (flags & O_CLOEXEC));
    if (fd >= 0)
        p.files.push_back({fd, false, false});
    return fd;
}

// One ppdev ioctl on a node, as the kernel answers it.
int node_ioctl(node_file& file, unsigned long request, void* argument) {
    kernel_shim& s = shim();
    count("ioctl_total");
    const auto fail = [](int error) {
        errno = error;
        return -1;
    };
    const std::string& holder = ppdev().holder;
    switch (request) {
        case PPRSTATUS:
            count("ioctl_rstatus");
            if (!file.claimed)
                return count("register_before_claim"), fail(EINVAL);
            *static_cast<unsigned char*>(argument) = shim_status_read();
            return 0;
        case PPWDATA:
            count("ioctl_wdata");
            if (!file.claimed)
                return count("register_before_claim"), fail(EINVAL);
            shim_data_write(*static_cast<unsigned char*>(argument));
            return 0;
        case PPEXCL:
            count("ioctl_excl");
            if (file.claimed)
                return file.exclusive_wish ? 0 : fail(EINVAL);
            file.exclusive_wish = true;
            return 0;
        case PPCLAIM:
            count("ioctl_claim");
            if (file.claimed)
                return fail(EINVAL);
            if (holder == "exclusive" || (holder == "lp" && file.exclusive_wish))
                return count("claims_refused"), fail(ENXIO);
            file.claimed = true;
            count(file.exclusive_wish ? "claims_exclusive" : "claims_shared");
            shim_card_acquired();
            return 0;
        case PPRELEASE:
            count("ioctl_release");
            if (!file.claimed)
                return fail(EINVAL);
            file.claimed = false;
            s.vmu.released = true;
            return 0;
        default:
            count("ioctl_other");
            return fail(ENOTTY);
    }
}

}  // namespace

void device_configure() {
    ppdev_state& p = ppdev();
    if (const char* holder = std::getenv("VMURX_SHIM_HOLDER"))
        p.holder = holder;
    if (const char* nodes = std::getenv("VMURX_SHIM_NODES")) {
        p.nodes.clear();
        std::stringstream list(nodes);
        for (std::string item; std::getline(list, item, ',');) {
            if (!item.empty())
                p.nodes.push_back(std::atoi(item.c_str()));
        }
    }
    p.open_errno = env_int("VMURX_SHIM_OPEN_ERRNO", 0);
    p.ioperm_errno = env_int("VMURX_SHIM_IOPERM_ERRNO", ENOSYS);
}

bool device_open(const char* path, int flags, int& fd) {
    const int number = node_number(path);
    if (number < 0)
        return false;
    fd = open_node(number, flags);
    return true;
}

std::string device_redirect(const char* path) {
    if (const char* root = replacement(path, PROCFS_ROOT, "VMURX_SHIM_PROCFS"))
        return std::string(root) + (path + std::strlen(PROCFS_ROOT));
    return path;
}

bool device_ioctl(int fd, unsigned long request, void* argument, int& result) {
    node_file* file = find_node(fd);
    if (file == nullptr)
        return false;
    if (request != PPRSTATUS && request != PPWDATA)
        note_call("ioctl");
    result = node_ioctl(*file, request, argument);
    return true;
}

void device_close(int fd) {
    if (node_file* file = find_node(fd)) {
        if (file->claimed) {
            count("closed_while_claimed");  // the kernel releases it
            file->claimed = false;
        }
        file->fd = -1;
    }
}

void device_report(std::FILE* report) {
    long long open_nodes = 0;
    for (const node_file& file : ppdev().files)
        open_nodes += file.fd >= 0 ? 1 : 0;
    std::fprintf(report, "open_nodes %lld\n", open_nodes);
}

extern "C" int ioperm(unsigned long, unsigned long, int) noexcept {
    shim_configure();
    note_call("ioperm");
    count("ioperm_calls");
    errno = ppdev().ioperm_errno;
    return -1;
}
