// vmurx-probe on real hardware: the probe with the Linux backend, which says
// how it reached the port and how far the process may raise itself; and,
// when it could not have the port, what it tried at that address, why each
// way failed and what to do about it, since the tool's own refusal is one
// fixed line.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/linux/linux_port_state.h"
#include "platform/linux/parport_discovery.h"
#include "platform/linux/ppdev_port.h"
#include "probe/probe.h"

namespace {

probe_port_facts describe_linux_port() {
    const linux_port_state state = linux_port_state_now();
    probe_port_facts facts;
    facts.path = state.ppdev_number >= 0 ? "ppdev /dev/parport" + std::to_string(state.ppdev_number)
                                         : "direct I/O";
    probe_priority_facts(state.priority_raised, state.priority_already_high,
                         sched_setting_text(state.raised), state.memory_locked, facts);
    return facts;
}

std::string hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%#x", value);
    return text;
}

std::string node_of(int number) {
    return std::string(PPDEV_NODE_DIR) + "/parport" + std::to_string(number);
}

bool permission(int error) {
    return error == EACCES || error == EPERM;
}

// "parport0 at 0x378, parport1 at 0xec00"
std::string port_list(const std::vector<parport_entry>& ports) {
    std::string list;
    for (const parport_entry& port : ports) {
        list += (list.empty() ? "" : ", ") + std::string("parport") + std::to_string(port.number) +
                " at " + hex(port.base);
    }
    return list;
}

// What the way through the kernel's ppdev met.
std::string ppdev_line(const linux_port_attempt& a, const std::vector<parport_entry>& ports) {
    const std::string root = PARPORT_PROCFS_ROOT;
    if (a.lookup_error == ENOENT)
        return "no parallel-port driver is loaded (no " + root + ")";
    if (a.lookup_error == ENODEV) {
        return ports.empty()
                   ? "the kernel lists no parallel port"
                   : "the kernel lists no port at " + hex(a.base) + ", only " + port_list(ports);
    }
    if (a.lookup_error != 0)
        return root + " cannot be read: " + std::strerror(a.lookup_error);
    const std::string node = node_of(a.ppdev_number);
    const std::string port = "parport" + std::to_string(a.ppdev_number) + " is at " + hex(a.base);
    if (a.ppdev_error == ENOENT)
        return port + ", but " + node + " is missing (no ppdev driver)";
    if (permission(a.ppdev_error))
        return port + ", but this user may not open " + node;
    if (a.ppdev_error == EBUSY)
        return port + ", and another program holds " + node;
    return port + ", but " + node + ": " + std::strerror(a.ppdev_error);
}

// What the way around the kernel met, if it was tried.
std::string direct_line(const linux_port_attempt& a) {
    if (a.ppdev_error == EBUSY)
        return "not tried: the port is another program's";
    if (!a.base_plausible)
        return "not tried: " + hex(a.base) + " cannot be a port's base (" +
               (a.base < 0x100 ? "it is below 0x100)" : "it is the last address)");
    if (a.direct_error == ENOSYS)
        return "this processor or kernel has none";
    if (permission(a.direct_error))
        return "refused: it needs root (a kernel in lockdown refuses it even to root)";
    return std::strerror(a.direct_error);
}

constexpr const char* GPIO_ADVICE =
    "wire a GPIO header instead\n"
    "    (README: \"Without a parallel port: a Raspberry Pi\"; vmurx-probe-gpio)";

// What to do, most telling first.
std::vector<std::string> advice(const linux_port_attempt& a,
                                const std::vector<parport_entry>& ports) {
    const std::string node = node_of(a.ppdev_number);
    if (a.ppdev_error == EBUSY)
        return {"end the program that holds it (sudo fuser -v " + node + " names it)"};
    if (permission(a.ppdev_error)) {
        return {"join group lp: sudo usermod -aG lp \"$USER\", then log in again",
                "the udev rule 60-vmurx.rules gives the node to group lp: ls -l " + node +
                    "\n    shows its group; install the rule if it is not lp (README: Install)"};
    }
    if (a.ppdev_error == ENOENT)
        return {"load the ppdev driver: sudo modprobe ppdev"};
    std::vector<std::string> todo;
    if (!a.base_plausible)
        todo.emplace_back("check -d: a base is hex, such as 0x378 (0378 is octal, 0x1f)");
    for (const parport_entry& port : ports)
        todo.push_back("try that port: vmurx-probe -d " + hex(port.base));
    if (a.lookup_error == ENODEV && ports.empty())
        todo.emplace_back("load the port's driver: sudo modprobe parport_pc");
    if (a.lookup_error == ENOENT && a.direct_error == ENOSYS) {
        // Neither the kernel nor the processor knows a port: a board such
        // as a Raspberry Pi, where the GPIO header takes the cable.
        todo.push_back(std::string("this machine seems to have no parallel port: ") + GPIO_ADVICE);
        todo.emplace_back("a port on a PCI or PCIe card needs: sudo modprobe parport_pc ppdev");
    } else if (a.lookup_error == ENOENT) {
        todo.emplace_back(
            "with a parallel port (onboard or on a card): sudo modprobe parport_pc "
            "ppdev");
        todo.push_back(std::string("without one (most laptops): ") + GPIO_ADVICE);
    }
    return todo;
}

std::string explain_linux_refusal(const std::string& device, std::uint16_t base, int) {
    linux_port_attempt attempt = linux_port_attempt_last();
    attempt.base = base;
    const std::vector<parport_entry> ports =
        attempt.lookup_error == ENODEV ? list_parports() : std::vector<parport_entry>{};
    std::string text = "vmurx-probe: " + device + " is the port at " + hex(base) + ". Tried:\n" +
                       "  ppdev: " + ppdev_line(attempt, ports) + "\n" +
                       "  direct I/O: " + direct_line(attempt) + "\n";
    const std::vector<std::string> todo = advice(attempt, ports);
    if (!todo.empty()) {
        text += "What to do:\n";
        for (const std::string& line : todo)
            text += "  - " + line + "\n";
    }
    return text + "More in the README: \"When the port cannot be opened\".\n";
}

}  // namespace

int main(int argc, char* argv[]) {
    return probe_main("vmurx-probe", "", argc, argv, {describe_linux_port, explain_linux_refusal});
}
