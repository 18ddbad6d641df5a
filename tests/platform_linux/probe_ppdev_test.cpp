// vmurx-probe on its real Linux backend, over the preloaded ppdev stand-in
// with the software VMU behind it: the claim, the path and the priority it
// reports, reads of the status register only, and the same refusals as
// vmurx (this machine's own kernel's is tested beside vmurx's), each followed
// by what the probe tried and what to do.
#include <gtest/gtest.h>

#include <cstdlib>

#include "may_raise_nice.h"
#include "run_program.h"
#include "shim_support.h"

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(ProbeOverPpdev, ReadsOnlyTheStatusRegisterOfTheClaimedPort) {
    ppdev_world add_in_card;
    add_in_card.ports = {{0, 0x378}, {1, 0xEC00}};
    add_in_card.nodes = "0,1";
    ppdev_world no_nice;
    no_nice.extra_env = {"VMURX_SHIM_NICE=5", "VMURX_SHIM_DENY_NICE=0"};
    const struct {
        ppdev_world world;
        const char* device;
        std::string port_line;
        const char* priority;  // the report's line
    } cases[] = {
        {add_in_card, "0xEC00", "Port \"0xEC00\" @ $ec00 via ppdev /dev/parport1\n",
         may_raise_nice() ? "  priority raise: granted (nice -20)\n" : "refused\n"},
        {no_nice, "LPT1", "Port \"LPT1\" @ $378 via ppdev /dev/parport0\n",
         "  priority raise: refused\n"},
    };
    temp_dir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port_line);
        const run_options options = shim_run_options(c.world, dir, "");
        const run_result run = run_program({VMURX_PROBE_PATH, "-d", c.device, "-t", "1"}, options);
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_TRUE(run.out.starts_with(c.port_line + "Lines (pin levels):\n"
                                                      "  Select: low (card ready)\n"))
            << run.out;
        EXPECT_TRUE(contains(run.out, c.priority)) << run.out;
        EXPECT_EQ(contains(run.out, "\n  remedy:"), contains(run.out, ": refused\n")) << run.out;
        const std::size_t reads_line = run.out.find("  status reads:");
        ASSERT_NE(reads_line, std::string::npos) << run.out;
        const unsigned long long reads =
            std::strtoull(run.out.c_str() + reads_line + 15, nullptr, 10);

        const shim_report r = read_shim_report(dir.file("report"));
        EXPECT_EQ(get(r, "claims_exclusive") + get(r, "claims_shared"), 1);
        EXPECT_EQ(get(r, "ioctl_wdata") + get(r, "sim_data_writes"), 0) << "data register written";
        EXPECT_EQ(get(r, "ioctl_rstatus"), get(r, "sim_status_reads"));
        EXPECT_EQ(static_cast<unsigned long long>(get(r, "sim_status_reads")), reads + 1);
        EXPECT_EQ(get(r, "ioctl_release"), 1);
        EXPECT_EQ(get(r, "open_nodes"), 0);
        EXPECT_EQ(get(r, "calls_while_masked"), 0) << read_file(dir.file("report"));
    }
}

TEST(ProbeOverPpdev, RefusesExactlyAsVmurxDoes) {
    ppdev_world no_access;
    no_access.open_errno = EACCES;
    no_access.ioperm_errno = EPERM;
    ppdev_world no_driver;
    no_driver.driver_loaded = false;
    const std::pair<ppdev_world, const char*> cases[] = {
        {no_access, "0x378"}, {no_driver, "LPT1"}, {ppdev_world{}, "0x278"}};
    temp_dir dir;
    for (const auto& [world, device] : cases) {
        SCOPED_TRACE(device);
        const run_options options = shim_run_options(world, dir, "");
        const run_result tool = run_program({VMURX_PATH, "-d", device}, options);
        const run_result probe = run_program({VMURX_PROBE_PATH, "-d", device}, options);
        EXPECT_EQ(probe.status, 1);
        EXPECT_TRUE(probe.err.starts_with("Can't open serial port: ")) << probe.err;
        // The tool's one line first; the probe's explanation after it.
        EXPECT_TRUE(probe.err.starts_with(tool.err)) << probe.err;
        EXPECT_NE(probe.err, tool.err);
        EXPECT_EQ(probe.out, tool.out);
        EXPECT_EQ(get(read_shim_report(dir.file("report")), "sim_status_reads"), 0);
    }
}

// For each way the port can be refused: what the probe tried at that
// address, why each way failed, and the advice that fits.
TEST(ProbeOverPpdev, SaysWhatItTriedAndWhatToDo) {
    ppdev_world no_driver;
    no_driver.driver_loaded = false;
    ppdev_world no_driver_x86 = no_driver;
    no_driver_x86.ioperm_errno = EPERM;
    ppdev_world two_ports;
    two_ports.ports = {{0, 0x378}, {1, 0xEC00}};
    ppdev_world no_ports;
    no_ports.ports = {};
    ppdev_world no_node;
    no_node.nodes = "";
    ppdev_world not_yours;
    not_yours.open_errno = EACCES;
    ppdev_world held;
    held.holder = "exclusive";
    const std::string gpio =
        "wire a GPIO header instead\n"
        "    (README: \"Without a parallel port: a Raspberry Pi\"; vmurx-probe-gpio)\n";
    const std::string more = "More in the README: \"When the port cannot be opened\".\n";
    const struct {
        const char* title;
        ppdev_world world;
        const char* device;
        std::string explained;  // what follows the tool's line
    } cases[] = {
        {"a board without a port", no_driver, "LPT1:",
         "vmurx-probe: LPT1: is the port at 0x378. Tried:\n"
         "  ppdev: no parallel-port driver is loaded (no /proc/sys/dev/parport)\n"
         "  direct I/O: this processor or kernel has none\n"
         "What to do:\n"
         "  - this machine seems to have no parallel port: " +
             gpio + "  - a port on a PCI or PCIe card needs: sudo modprobe parport_pc ppdev\n" +
             more},
        {"a PC without the drivers", no_driver_x86, "LPT1",
         "vmurx-probe: LPT1 is the port at 0x378. Tried:\n"
         "  ppdev: no parallel-port driver is loaded (no /proc/sys/dev/parport)\n"
         "  direct I/O: refused: it needs root (a kernel in lockdown refuses it even to root)\n"
         "What to do:\n"
         "  - with a parallel port (onboard or on a card): sudo modprobe parport_pc ppdev\n"
         "  - without one (most laptops): " +
             gpio + more},
        {"another address than the ports'", two_ports, "0x278",
         "vmurx-probe: 0x278 is the port at 0x278. Tried:\n"
         "  ppdev: the kernel lists no port at 0x278, only parport0 at 0x378, parport1 at "
         "0xec00\n"
         "  direct I/O: this processor or kernel has none\n"
         "What to do:\n"
         "  - try that port: vmurx-probe -d 0x378\n"
         "  - try that port: vmurx-probe -d 0xec00\n" +
             more},
        {"a driver without ports", no_ports, "LPT1:",
         "vmurx-probe: LPT1: is the port at 0x378. Tried:\n"
         "  ppdev: the kernel lists no parallel port\n"
         "  direct I/O: this processor or kernel has none\n"
         "What to do:\n"
         "  - load the port's driver: sudo modprobe parport_pc\n" +
             more},
        {"an octal typo", two_ports, "0378",
         "vmurx-probe: 0378 is the port at 0x1f. Tried:\n"
         "  ppdev: the kernel lists no port at 0x1f, only parport0 at 0x378, parport1 at 0xec00\n"
         "  direct I/O: not tried: 0x1f cannot be a port's base (it is below 0x100)\n"
         "What to do:\n"
         "  - check -d: a base is hex, such as 0x378 (0378 is octal, 0x1f)\n"
         "  - try that port: vmurx-probe -d 0x378\n"
         "  - try that port: vmurx-probe -d 0xec00\n" +
             more},
        {"no ppdev node", no_node, "LPT1:",
         "vmurx-probe: LPT1: is the port at 0x378. Tried:\n"
         "  ppdev: parport0 is at 0x378, but /dev/parport0 is missing (no ppdev driver)\n"
         "  direct I/O: this processor or kernel has none\n"
         "What to do:\n"
         "  - load the ppdev driver: sudo modprobe ppdev\n" +
             more},
        {"a node that is not the user's", not_yours, "LPT1:",
         "vmurx-probe: LPT1: is the port at 0x378. Tried:\n"
         "  ppdev: parport0 is at 0x378, but this user may not open /dev/parport0\n"
         "  direct I/O: this processor or kernel has none\n"
         "What to do:\n"
         "  - join group lp: sudo usermod -aG lp \"$USER\", then log in again\n"
         "  - the udev rule 60-vmurx.rules gives the node to group lp: ls -l /dev/parport0\n"
         "    shows its group; install the rule if it is not lp (README: Install)\n" +
             more},
        {"a port another program holds", held, "LPT1:",
         "vmurx-probe: LPT1: is the port at 0x378. Tried:\n"
         "  ppdev: parport0 is at 0x378, and another program holds /dev/parport0\n"
         "  direct I/O: not tried: the port is another program's\n"
         "What to do:\n"
         "  - end the program that holds it (sudo fuser -v /dev/parport0 names it)\n" +
             more},
    };
    temp_dir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        const run_options options = shim_run_options(c.world, dir, "");
        const run_result tool = run_program({VMURX_PATH, "-d", c.device}, options);
        const run_result probe = run_program({VMURX_PROBE_PATH, "-d", c.device}, options);
        EXPECT_EQ(probe.status, 1);
        EXPECT_EQ(probe.err, tool.err + c.explained);
    }
}

}  // namespace
