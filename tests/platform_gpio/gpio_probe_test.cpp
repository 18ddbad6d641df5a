// vmurx-probe-gpio over the GPIO stand-in: it shows the chip and each line,
// reads only, refuses as vmurx-gpio does, and takes the probe's options
// directly.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "gpio_shim_support.h"

namespace {

run_result run_probe(const gpio_world& world, const temp_dir& dir,
                     const std::vector<std::string>& options) {
    std::vector<std::string> argv{VMURX_PROBE_GPIO_PATH};
    argv.insert(argv.end(), options.begin(), options.end());
    return run_program(argv, gpio_run_options(world, dir, "--ready-after 1000000000"));
}

// The card is never told a transfer begins: no output changes from the idle
// levels the claim set, and every line is shown as it is.
TEST(ProbeGpio, ShowsEveryLineAndNeverWrites) {
    temp_dir dir;
    const run_result result = run_probe(gpio_world{}, dir, {"--", "-t", "1"});
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out.rfind("Port \"LPT1:\" @ $378 via GPIO /dev/gpiochip0\n"
                               "Chip: gpiochip0 \"pinctrl-bcm2835\", 58 lines, inputs pulled up\n"
                               "  D0      line 17  GPIO17       high (output)\n"
                               "  D1      line 27  GPIO27       low  (output)\n"
                               "  D2      line 22  GPIO22       low  (output)\n"
                               "  D3      line 23  GPIO23       high (output)\n"
                               "  Select  line 24  GPIO24       high (input)\n"
                               "  Ack     line 25  GPIO25       high (input)\n"
                               "  Busy    line 5   GPIO5        low  (input)\n"
                               "Lines (pin levels):\n"
                               "  Select: high (no card ready, or no cable)\n"
                               "  Ack: high\n"
                               "  Busy: low\n",
                               0),
              0U)
        << result.out;
    EXPECT_NE(result.out.find("read cost:"), std::string::npos);
    const shim_report r = read_shim_report(dir.file("report"));
    EXPECT_EQ(get(r, "ioctl_set_values"), 0);
    EXPECT_EQ(get(r, "initial_data"), 0x09);
    EXPECT_GT(get(r, "ioctl_get_values"), 1'000);
    EXPECT_EQ(get(r, "requests_released"), 1);
    EXPECT_EQ(get(r, "open_requests"), 0);
}

TEST(ProbeGpio, RefusesAsTheToolDoes) {
    struct refusal_case {
        const char* title;
        gpio_world world;
        std::vector<std::string> options;
        int status;
        std::string err;
    };
    gpio_world held;
    held.chips[0].used = {5};
    gpio_world locked;
    locked.chips[0].open_errno = EACCES;
    const refusal_case cases[] = {
        {"Busy held",
         held,
         {"--", "-t", "1"},
         1,
         std::string("Can't open serial port: ") + std::strerror(EBUSY) + "\n"},
        {"chip locked",
         locked,
         {"--", "-t", "1"},
         1,
         std::string("Can't open serial port: ") + std::strerror(EACCES) + "\n"},
        {"a line twice",
         gpio_world{},
         {"--lines", "d1=GPIO5"},
         2,
         "vmurx-probe-gpio: d1 and busy are both line 5 of gpiochip0\n"},
    };
    for (const refusal_case& c : cases) {
        SCOPED_TRACE(c.title);
        temp_dir dir;
        const run_result result = run_probe(c.world, dir, c.options);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.err, c.err);
        EXPECT_EQ(get(read_shim_report(dir.file("report")), "requests_granted"), 0);
    }
}

// The probe's options as a user types them, among the GPIO options or
// after "--", and the same refusals either way.
TEST(ProbeGpio, TakesTheProbesOptionsDirectly) {
    const std::string usage = "Usage: vmurx-probe-gpio [--chip CHIP] [--lines ROLE=LINE,...]\n";
    const struct {
        std::vector<std::string> options;
        int status;
        std::string err_start;  // "" for none
        bool watching;          // "printing each line change" in the output
    } cases[] = {
        {{"-t", "1"}, 0, "", false},
        {{"--chip", "gpiochip0", "-wt1"}, 0, "", true},
        {{"--time=1", "--bias", "none", "--watch"}, 0, "", true},
        {{"--ti", "1", "--lines", "busy=5"}, 0, "", false},
        {{"--", "-t", "1"}, 0, "", false},
        {{"-w", "--", "-t", "1"}, 0, "", true},
        {{"-t", "0"},
         2,
         "vmurx-probe-gpio: invalid time '0': whole seconds from 1 to 600\n",
         false},
        {{"-x"}, 2, "vmurx-probe-gpio: invalid option -- 'x'\n" + usage, false},
        // The port is the chip's here: -d only after "--", as ever.
        {{"-d", "0x378"}, 2, "vmurx-probe-gpio: invalid option -- 'd'\n" + usage, false},
        {{"-t"}, 2, "vmurx-probe-gpio: option requires an argument -- 't'\n" + usage, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.options));
        temp_dir dir;
        const run_result result = run_probe(gpio_world{}, dir, c.options);
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_TRUE(result.err.starts_with(c.err_start)) << result.err;
        if (c.status == 0) {
            EXPECT_EQ(result.err, "");
            EXPECT_NE(result.out.find("Polling the status register for 1 s"), std::string::npos)
                << result.out;
            EXPECT_EQ(result.out.find("printing each line change") != std::string::npos,
                      c.watching);
        }
    }
}

}  // namespace
