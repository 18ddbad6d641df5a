// vmurx-probe on its real Linux backend, over the preloaded ppdev stand-in
// with the software VMU behind it: the claim, the path and the priority it
// reports, reads of the status register only, and the same refusals as
// vmurx (this machine's own kernel's is tested beside vmurx's).
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
        EXPECT_EQ(probe.err, tool.err);
        EXPECT_EQ(probe.out, tool.out);
        EXPECT_EQ(get(read_shim_report(dir.file("report")), "sim_status_reads"), 0);
    }
}

}  // namespace
