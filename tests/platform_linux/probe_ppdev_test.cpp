// vmurx-probe on its real Linux backend, over the preloaded ppdev stand-in
// with the software VMU behind it: the claim, the path it names, the
// priority it reports, reads only of the status register, and the same
// refusals as vmurx. And on this machine's own kernel, the refusal.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <numeric>

#include "linux/direct_io.h"
#include "may_raise_nice.h"
#include "probe_output.h"
#include "run_program.h"
#include "shim_support.h"

namespace {

TEST(ProbeOverPpdev, ReadsOnlyTheStatusRegisterOfTheClaimedPort) {
    struct probe_case {
        const char* title;
        bool (*available)();
        ppdev_world world;
        const char* device;
        const char* port_line;
        bool shared;
        const char* priority;  // the report's line
    };
    const auto always = [] { return true; };
    ppdev_world free_port;
    ppdev_world lp_loaded;
    lp_loaded.holder = "lp";
    ppdev_world add_in_card;
    add_in_card.ports = {{0, 0x378}, {1, 0xEC00}};
    add_in_card.nodes = "0,1";
    ppdev_world may_raise;
    may_raise.extra_env = {"VMURX_SHIM_NICE=5"};
    ppdev_world may_not_raise;
    may_not_raise.extra_env = {"VMURX_SHIM_NICE=5", "VMURX_SHIM_DENY_NICE=0"};
    const probe_case cases[] = {
        {"exclusive claim", always, free_port, "0x378",
         "Port \"0x378\" @ $378 via ppdev /dev/parport0", false, nullptr},
        {"shared claim while lp is loaded", always, lp_loaded, "LPT1",
         "Port \"LPT1\" @ $378 via ppdev /dev/parport0", true, nullptr},
        {"add-in card", always, add_in_card, "0xEC00",
         "Port \"0xEC00\" @ $ec00 via ppdev /dev/parport1", false, nullptr},
        {"priority raised", may_raise_nice, may_raise, "0x378",
         "Port \"0x378\" @ $378 via ppdev /dev/parport0", false,
         "  priority raise: granted (nice -20)\n"},
        {"priority refused", always, may_not_raise, "0x378",
         "Port \"0x378\" @ $378 via ppdev /dev/parport0", false, "  priority raise: refused\n"},
    };
    temp_dir dir;
    for (const probe_case& c : cases) {
        SCOPED_TRACE(c.title);
        if (!c.available()) {
            std::printf("[ SKIPPED  ] %s: not permitted here\n", c.title);
            continue;
        }
        const run_options options = shim_run_options(c.world, dir, "");
        const run_result run = run_program({VMURX_PROBE_PATH, "-d", c.device, "-t", "1"}, options);
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_EQ(run.err, "");
        const probe_output p = parse_probe_output(run.out);
        EXPECT_EQ(p.port_line, c.port_line);
        EXPECT_NE(run.out.find("ns per read via ppdev /dev/parport"), std::string::npos);
        EXPECT_EQ(p.select, "low (card ready)");
        EXPECT_EQ(p.ack_changes, 16U);
        EXPECT_EQ(std::accumulate(p.gaps.begin(), p.gaps.end(), 0ULL), p.reads - 1);
        if (c.priority != nullptr) {
            EXPECT_NE(run.out.find(c.priority), std::string::npos) << run.out;
        }
        const bool remedy = run.out.find("  remedy:") != std::string::npos;
        EXPECT_EQ(remedy, run.out.find(": refused\n") != std::string::npos) << run.out;

        const shim_report r = read_shim_report(dir.file("report"));
        EXPECT_EQ(get(r, "claims_exclusive"), c.shared ? 0 : 1);
        EXPECT_EQ(get(r, "claims_shared"), c.shared ? 1 : 0);
        EXPECT_EQ(get(r, "ioctl_wdata"), 0) << "the data register was written";
        EXPECT_EQ(get(r, "sim_data_writes"), 0);
        EXPECT_EQ(get(r, "ioctl_rstatus"), get(r, "sim_status_reads"));
        EXPECT_EQ(static_cast<unsigned long long>(get(r, "sim_status_reads")), p.reads + 1);
        EXPECT_EQ(get(r, "ioctl_release"), 1);
        EXPECT_EQ(get(r, "open_nodes"), 0);
        EXPECT_EQ(get(r, "register_before_claim"), 0);
        EXPECT_EQ(get(r, "ioperm_calls"), 0);
        EXPECT_EQ(get(r, "calls_while_masked"), 0) << read_file(dir.file("report"));
        if (c.priority != nullptr && std::strstr(c.priority, "granted") != nullptr) {
            // Raised for the whole run, and back to normal at the end.
            EXPECT_EQ(get(r, "sim_unmasked_reads"), 1);
            EXPECT_EQ(get(r, "end_nice"), 5);
        }
    }
}

TEST(ProbeOverPpdev, RefusesExactlyAsVmurxDoes) {
    ppdev_world no_access;
    no_access.open_errno = EACCES;
    no_access.ioperm_errno = EPERM;
    ppdev_world held;
    held.holder = "exclusive";
    ppdev_world no_node;
    no_node.nodes = "";
    ppdev_world no_driver;
    no_driver.driver_loaded = false;
    no_driver.ioperm_errno = EPERM;
    const struct {
        const char* title;
        ppdev_world world;
        const char* device;
    } cases[] = {
        {"node not open to the user", no_access, "0x378"},
        {"port held by another program", held, "0x378"},
        {"no ppdev node", no_node, "LPT1"},
        {"no port at that base", ppdev_world{}, "0x278"},
        {"no parport driver, ioperm refused", no_driver, "0x378"},
    };
    temp_dir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        const run_options options = shim_run_options(c.world, dir, "");
        const run_result tool = run_program({VMURX_PATH, "-d", c.device}, options);
        const run_result probe = run_program({VMURX_PROBE_PATH, "-d", c.device}, options);
        EXPECT_EQ(probe.status, 1);
        EXPECT_EQ(probe.status, tool.status);
        EXPECT_TRUE(probe.err.starts_with("Can't open serial port: ")) << probe.err;
        EXPECT_EQ(probe.err, tool.err);
        EXPECT_EQ(probe.out, tool.out);
        const shim_report r = read_shim_report(dir.file("report"));
        EXPECT_EQ(get(r, "open_nodes"), 0);
        EXPECT_EQ(get(r, "sim_status_reads"), 0);
    }
}

// On a kernel without ppdev the probe reports the system's reason.
TEST(ProbeOnThisKernel, RefusalWithoutPpdev) {
    if (std::filesystem::exists("/proc/sys/dev/parport"))
        GTEST_SKIP() << "this kernel has parallel ports";
    const int error = direct_io_grant(0x378);
    if (error == 0) {
        direct_io_revoke(0x378);
        GTEST_SKIP() << "this process may drive ports directly";
    }
    const run_result result = run_program({VMURX_PROBE_PATH, "-d", "0x378", "-t", "1"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, std::string("Can't open serial port: ") + std::strerror(error) + "\n");
    EXPECT_EQ(result.out, "");
}

}  // namespace
