// The unmodified vmurx program on its real Linux backend, end to end: a
// preloaded stand-in for the kernel (ppdev_shim.cpp) publishes made-up ports,
// answers the ppdev node with the software VMU behind it, and reports what
// the process asked of it.
#include <gtest/gtest.h>
#include <link.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>

#include "may_raise_nice.h"
#include "platform/linux/direct_io.h"
#include "run_program.h"
#include "shim_support.h"

namespace {

using report = shim_report;

class PpdevTransfer : public ::testing::Test {
protected:
    temp_dir dir;
    std::vector<std::uint8_t> image;

    void SetUp() override {
        std::mt19937 random(1234);
        image.resize(2 * 512);
        for (auto& byte : image)
            byte = static_cast<std::uint8_t>(random());
        write_file(dir.file("image.bin"), std::string(image.begin(), image.end()));
    }

    run_result run(const ppdev_world& world, const std::string& device) {
        const run_options options =
            shim_run_options(world, dir, "--file " + dir.file("image.bin") + " --name SAVEGAME");
        std::filesystem::remove(dir.file("out.bin"));
        return run_program({VMURX_PATH, "-d", device, "-v", "-n", "out.bin"}, options);
    }

    report read_report() { return read_shim_report(dir.file("report")); }

    // A complete transfer with exactly one ioctl per register access, and
    // nothing else asked of the system while the tool was raised.
    void expect_transfer(const run_result& result, const std::string& open_line) {
        ASSERT_EQ(result.status, 0) << result.out << result.err;
        EXPECT_EQ(read_file(dir.file("out.bin")), std::string(image.begin(), image.end()));
        EXPECT_NE(result.out.find(open_line), std::string::npos) << result.out;
        const auto last_line = result.out.rfind('\n', result.out.size() - 2);
        EXPECT_EQ(result.out.compare(last_line, 21, "\nCommunications log: "), 0) << result.out;

        const report r = read_report();
        EXPECT_EQ(get(r, "sim_finished"), 1);
        EXPECT_EQ(get(r, "sim_complaints"), 0);
        EXPECT_GT(get(r, "sim_status_reads"), 10'000);
        EXPECT_EQ(get(r, "ioctl_rstatus"), get(r, "sim_status_reads"));
        EXPECT_EQ(get(r, "ioctl_wdata"), get(r, "sim_data_writes"));
        const long long setup = get(r, "ioctl_excl") + get(r, "ioctl_claim");
        EXPECT_EQ(get(r, "ioctl_total"),
                  get(r, "ioctl_rstatus") + get(r, "ioctl_wdata") + setup + 1);
        EXPECT_EQ(get(r, "ioctl_release"), 1);
        EXPECT_EQ(get(r, "ioctl_other"), 0);
        EXPECT_EQ(get(r, "register_before_claim"), 0);
        EXPECT_EQ(get(r, "closed_while_claimed"), 0);
        EXPECT_EQ(get(r, "open_nodes"), 0);
        EXPECT_EQ(get(r, "ioperm_calls"), 0);
        EXPECT_EQ(get(r, "calls_while_masked"), 0) << "first: " << read_file(dir.file("report"));
    }
};

TEST_F(PpdevTransfer, CompletesOverPpdev) {
    struct transfer_case {
        const char* title;
        ppdev_world world;
        const char* device;
        const char* open_line;
        bool shared;
    };
    ppdev_world free_port;
    ppdev_world lp_loaded;
    lp_loaded.holder = "lp";
    ppdev_world add_in_card;
    add_in_card.ports = {{0, 0x378}, {1, 0xEC00}, {2, 0xD010}};
    add_in_card.nodes = "0,1,2";
    ppdev_world low_base;
    low_base.ports = {{0, 0x0F0}};
    // The clock floor spins on a clock read in user space: still no system
    // call inside a frame.
    ppdev_world default_floor;
    default_floor.delay_us = nullptr;
    const transfer_case cases[] = {
        {"exclusive claim", free_port, "0x378", "open \"0x378\" @ $378\n", false},
        {"shared claim while lp is loaded", lp_loaded, "0x378", "open \"0x378\" @ $378\n", true},
        {"add-in card at a high base", add_in_card, "0xEC00", "open \"0xEC00\" @ $ec00\n", false},
        {"LPT1 names 0x378", free_port, "LPT1", "open \"LPT1\" @ $378\n", false},
        {"a ppdev port below 0x100", low_base, "0xF0", "open \"0xF0\" @ $0f0\n", false},
        {"with the default delay floor", default_floor, "0x378", "open \"0x378\" @ $378\n", false},
    };
    for (const transfer_case& c : cases) {
        SCOPED_TRACE(c.title);
        expect_transfer(run(c.world, c.device), c.open_line);
        const report r = read_report();
        EXPECT_EQ(get(r, "claims_exclusive"), c.shared ? 0 : 1);
        EXPECT_EQ(get(r, "claims_shared"), c.shared ? 1 : 0);
        EXPECT_EQ(get(r, "node_opens"), c.shared ? 2 : 1);
    }
}

TEST_F(PpdevTransfer, RefusalTellsTheMostUsefulReason) {
    struct refusal_case {
        const char* title;
        ppdev_world world;
        const char* device;
        int error;
    };
    ppdev_world no_access;
    no_access.open_errno = EACCES;
    no_access.ioperm_errno = EPERM;
    ppdev_world held;
    held.holder = "exclusive";
    held.ioperm_errno = EPERM;
    ppdev_world no_node_no_root;
    no_node_no_root.nodes = "";
    no_node_no_root.ioperm_errno = EPERM;
    ppdev_world no_node;
    no_node.nodes = "";
    ppdev_world no_driver;
    no_driver.driver_loaded = false;
    ppdev_world no_driver_no_root = no_driver;
    no_driver_no_root.ioperm_errno = EPERM;
    ppdev_world no_access_low_base = no_access;
    no_access_low_base.ports = {{0, 0x0F0}};
    const refusal_case cases[] = {
        {"node not open to the user", no_access, "0x378", EACCES},
        {"node not open to the user, below 0x100", no_access_low_base, "0xF0", EACCES},
        {"port held by another program", held, "0x378", EBUSY},
        {"no ppdev node, ioperm refused", no_node_no_root, "0x378", EPERM},
        {"no ppdev node, no port I/O", no_node, "0x378", ENOENT},
        {"no port at that base, no port I/O", ppdev_world{}, "0x278", ENOSYS},
        {"no parport driver, no port I/O", no_driver, "0x378", ENOSYS},
        {"no parport driver, ioperm refused", no_driver_no_root, "0x378", EPERM},
    };
    for (const refusal_case& c : cases) {
        SCOPED_TRACE(c.title);
        const run_result result = run(c.world, c.device);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err,
                  std::string("Can't open serial port: ") + std::strerror(c.error) + "\n");
        const report r = read_report();
        EXPECT_EQ(get(r, "open_nodes"), 0);
        EXPECT_EQ(get(r, "claims_exclusive") + get(r, "claims_shared"), 0);
    }
    // A port someone else holds is tried exclusively, then shared, and never
    // driven directly behind the holder's back.
    run(held, "0x378");
    const report r = read_report();
    EXPECT_EQ(get(r, "claims_refused"), 2);
    EXPECT_EQ(get(r, "ioperm_calls"), 0);
}

// Without a ppdev port there, direct access is refused before any access
// where no parallel port can be.
TEST_F(PpdevTransfer, DirectAccessOnlyWhereAPortCanBe) {
    const struct {
        const char* device;
        int error;
        long long ioperm_calls;
    } cases[] = {
        {"0x0FF", EINVAL, 0}, {"0378", EINVAL, 0},  {"0", EINVAL, 0},
        {"0x100", EPERM, 1},  {"0xFFFE", EPERM, 1}, {"0xFFFF", EINVAL, 0},
    };
    ppdev_world world;
    world.ioperm_errno = EPERM;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device);
        const run_result result = run(world, c.device);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err,
                  std::string("Can't open serial port: ") + std::strerror(c.error) + "\n");
        EXPECT_EQ(get(read_report(), "ioperm_calls"), c.ioperm_calls);
    }
}

TEST_F(PpdevTransfer, RaisesThePriorityOnlyAsFarAsPermittedAndRestoresIt) {
    struct masking_case {
        const char* title;
        bool (*available)();
        std::vector<std::string> env;
        std::string rt_runtime;
        int raised_nice;  // the lowest nice value seen
        bool fifo;
    };
    const auto always = [] { return true; };
    const masking_case cases[] = {
        {"nice -20 where permitted", may_raise_nice, {}, "950000\n", -20, false},
        {"no permission", always, {"VMURX_SHIM_DENY_NICE=0"}, "950000\n", 5, false},
        {"RLIMIT_NICE allows down to -10",
         may_set_nice_limit_30,
         {"VMURX_SHIM_DENY_NICE=30"},
         "950000\n",
         -10,
         false},
        {"SCHED_FIFO only when throttling is off", may_raise_nice, {}, "-1\n", 5, true},
        {"no SCHED_FIFO without permission", always, {"VMURX_SHIM_DENY_NICE=0"}, "-1\n", 5, false},
    };
    for (const masking_case& c : cases) {
        SCOPED_TRACE(c.title);
        if (!c.available()) {
            std::printf("[ SKIPPED  ] %s: not permitted here\n", c.title);
            continue;
        }
        ppdev_world world;
        world.rt_runtime = c.rt_runtime;
        world.extra_env = c.env;
        world.extra_env.push_back("VMURX_SHIM_NICE=5");
        expect_transfer(run(world, "0x378"), "open \"0x378\" @ $378\n");
        const report r = read_report();
        EXPECT_EQ(get(r, "start_nice"), 5);
        EXPECT_EQ(get(r, "lowest_nice"), c.raised_nice);
        EXPECT_EQ(get(r, "saw_fifo"), c.fifo ? 1 : 0);
        EXPECT_EQ(get(r, "end_nice"), 5);
        EXPECT_EQ(get(r, "end_policy"), get(r, "start_policy"));
        const long long switches = get(r, "setpriority_calls") + get(r, "sched_setscheduler_calls");
        if (c.raised_nice < 5 || c.fifo) {
            // Frames went out raised, and every scheduling call was a switch.
            EXPECT_GT(get(r, "sim_masked_pc_bytes"), 0);
            EXPECT_EQ(switches, get(r, "raises") + get(r, "lowers"));
            EXPECT_EQ(get(r, "raises"), get(r, "lowers"));
        } else {
            // Refused once when the port was acquired, never tried again.
            EXPECT_EQ(get(r, "raises"), 0);
            EXPECT_LE(switches, 3);
        }
    }
}

// On a kernel without ppdev the tool and the probe report the system's
// reason, in the same words.
TEST(RealKernel, RefusalWithoutPpdev) {
    if (std::filesystem::exists("/proc/sys/dev/parport"))
        GTEST_SKIP() << "this kernel has parallel ports";
    const int error = direct_io_grant(0x378);
    if (error == 0) {
        direct_io_revoke(0x378);
        GTEST_SKIP() << "this process may drive ports directly";
    }
    const std::string refusal =
        std::string("Can't open serial port: ") + std::strerror(error) + "\n";
    const run_result tool = run_program({VMURX_PATH, "-d", "0x378"});
    EXPECT_EQ(tool.status, 1);
    EXPECT_EQ(tool.err, refusal);
    EXPECT_EQ(tool.out, "");
    // The probe says the same, then what it tried on this kernel.
    const run_result probe = run_program({VMURX_PROBE_PATH, "-d", "0x378", "-t", "1"});
    EXPECT_EQ(probe.status, 1);
    EXPECT_TRUE(probe.err.starts_with(refusal + "vmurx-probe: 0x378 is the port at 0x378. Tried:\n"
                                                "  ppdev: no parallel-port driver is loaded"))
        << probe.err;
    EXPECT_EQ(probe.out, "");
}

}  // namespace
