// The unmodified tool on the GPIO backend, end to end: vmurx-gpio over a
// preloaded stand-in for the GPIO character device (gpio_shim.cpp) with the
// software VMU behind it, compared with vmurx over the ppdev stand-in and
// the same card.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "gpio_shim_support.h"
#include "platform/gpio/gpio_lines.h"
#include "shim_support.h"
#include "vmu/vmu_sim.h"

namespace {

const char* const CLAIM_NOTICE =
    "vmurx-gpio: claimed gpiochip0 (pinctrl-bcm2835) lines "
    "d0=17,d1=27,d2=22,d3=23,select=24,ack=25,busy=5\n";

class GpioTransfer : public ::testing::Test {
protected:
    temp_dir dir;
    std::vector<std::uint8_t> image;

    void SetUp() override {
        set_image(2, [](std::mt19937& random) { return random(); });
    }

    template <typename Byte>
    void set_image(std::size_t blocks, Byte byte) {
        std::mt19937 random(1234);
        image.resize(blocks * 512);
        for (auto& value : image)
            value = static_cast<std::uint8_t>(byte(random));
        write_file(dir.file("image.bin"), std::string(image.begin(), image.end()));
    }

    std::string card() const { return "--file " + dir.file("image.bin") + " --name SAVEGAME"; }

    run_result run_gpio(const gpio_world& world, const std::vector<std::string>& gpio_options) {
        std::filesystem::remove(dir.file("out.bin"));
        std::vector<std::string> argv{VMURX_GPIO_PATH};
        argv.insert(argv.end(), gpio_options.begin(), gpio_options.end());
        argv.insert(argv.end(), {"--", "-v", "-n", "out.bin"});
        return run_program(argv, gpio_run_options(world, dir, card()));
    }

    run_result run_ppdev() {
        std::filesystem::remove(dir.file("out.bin"));
        return run_program({VMURX_PATH, "-v", "-n", "out.bin"},
                           shim_run_options(ppdev_world{}, dir, card()));
    }

    shim_report report() const { return read_shim_report(dir.file("report")); }

    // A complete transfer: the file, one ioctl per register access on the
    // request's descriptor, nothing else asked of the system while raised,
    // the lines claimed as the table says and given back.
    void expect_transfer(const run_result& result) {
        ASSERT_EQ(result.status, 0) << result.out << result.err;
        EXPECT_EQ(read_file(dir.file("out.bin")), std::string(image.begin(), image.end()));
        const shim_report r = report();
        EXPECT_EQ(get(r, "sim_finished"), 1);
        EXPECT_EQ(get(r, "sim_complaints"), 0) << read_file(dir.file("report"));
        EXPECT_GT(get(r, "sim_status_reads"), 1'000);
        EXPECT_EQ(get(r, "ioctl_get_values"), get(r, "sim_status_reads"));
        // The claim itself sets the card's D0-D3 once.
        EXPECT_EQ(get(r, "ioctl_set_values") + 1, get(r, "sim_data_writes"));
        EXPECT_EQ(get(r, "ioctl_total"), get(r, "ioctl_get_values") + get(r, "ioctl_set_values") +
                                             get(r, "ioctl_chipinfo") + get(r, "ioctl_lineinfo") +
                                             get(r, "ioctl_get_line"));
        EXPECT_EQ(get(r, "ioctl_other"), 0);
        EXPECT_EQ(get(r, "calls_while_masked"), 0) << read_file(dir.file("report"));
        EXPECT_EQ(get(r, "requests_granted"), 1);
        EXPECT_EQ(get(r, "request_lines"), 7);
        EXPECT_EQ(get(r, "request_outputs"), 4);
        EXPECT_EQ(get(r, "request_inputs"), 3);
        EXPECT_EQ(get(r, "request_lines_miswired"), 0);
        EXPECT_EQ(get(r, "request_consumer_vmurx"), 1);
        EXPECT_EQ(get(r, "initial_data"), 0x09);  // D0 and D3 high, D1 and D2 low
        EXPECT_EQ(get(r, "requests_released"), 1);
        EXPECT_EQ(get(r, "open_requests"), 0);
        EXPECT_EQ(get(r, "open_chips"), 0);
    }
};

// The same card through ppdev and through GPIO: the same transcript on both
// streams, less the line that names the claimed lines.
TEST_F(GpioTransfer, TranscriptIsTheToolsOverPpdev) {
    const run_result ppdev = run_ppdev();
    ASSERT_EQ(ppdev.status, 0) << ppdev.err;
    const run_result gpio = run_gpio(gpio_world{}, {});
    expect_transfer(gpio);
    EXPECT_EQ(gpio.out, ppdev.out);
    EXPECT_EQ(gpio.err, CLAIM_NOTICE + ppdev.err);
    EXPECT_EQ(get(report(), "request_inputs_pulled_up"), 3);
}

// The core undoes a PC port's inversion of Busy: a card sending only zeros
// and only ones tells a missing or doubled inversion from a right one.
TEST_F(GpioTransfer, BusyIsInvertedAsOnAPort) {
    for (const int fill : {0x00, 0xFF}) {
        SCOPED_TRACE(fill);
        set_image(1, [fill](std::mt19937&) { return fill; });
        expect_transfer(run_gpio(gpio_world{}, {}));
    }
    // Every state of the card's three lines reads as the port presents it.
    for (int state = 0; state < 8; ++state) {
        vmu_sim vmu;
        const bool ready = (state & 1) != 0;
        vmu.ack_high = (state & 2) != 0;
        vmu.busy = (state & 4) != 0;
        const std::uint64_t bits = (ready ? 0 : 0x10U) | (vmu.ack_high ? 0x20U : 0) |
                                   (vmu.busy ? 0x40U : 0) | 0x0FU;  // D0-D3 do not count
        EXPECT_EQ(gpio_status_from_bits(bits), vmu_sim_status_lines(vmu, ready)) << state;
    }
}

TEST_F(GpioTransfer, FindsTheChipAndLinesByNameOrNumber) {
    struct chip_case {
        const char* title;
        gpio_world world;
        std::vector<std::string> options;
        bool pull_up;
    };
    // A Raspberry Pi 5: the header chip is gpiochip4, behind chips without
    // a GPIO17.
    gpio_world pi5;
    pi5.chips = {{"gpiochip0", "gpio-brcmstb@107d508500", {"-", "-", "-"}, {}, 0},
                 {"gpiochip1", "gpio-brcmstb@107d517c00", {"-", "-"}, {}, 0},
                 {"gpiochip4", "pinctrl-rp1", pi_line_names(54), {}, 0}};
    pi5.card_chip = "gpiochip4";
    // A board whose lines have other names, wired elsewhere.
    gpio_world other_board;
    std::vector<std::string> names;
    for (int line = 0; line < 32; ++line)
        names.push_back("PA" + std::to_string(line));
    other_board.chips = {{"gpiochip0", "sunxi-pinctrl", names, {}, 0},
                         {"gpiochip1", "pinctrl-bcm2835", pi_line_names(), {}, 0}};
    other_board.wiring = "3,4,5,6,7,8,9";
    const std::vector<std::string> other_lines = {
        "--chip", "sunxi-pinctrl", "--lines", "d0=PA3,d1=4,d2=PA5,d3=6,select=PA7,ack=8,busy=PA9"};
    // A single line moved, the others as the table says.
    gpio_world busy_moved;
    busy_moved.wiring = "17,27,22,23,24,25,6";
    const chip_case cases[] = {
        {"the chip with GPIO17", gpio_world{}, {}, true},
        {"a Raspberry Pi 5's gpiochip4", pi5, {}, true},
        {"by label", pi5, {"--chip", "pinctrl-rp1"}, true},
        {"by name", pi5, {"--chip", "gpiochip4"}, true},
        {"by path", gpio_world{}, {"--chip", "/dev/gpiochip0"}, true},
        {"lines by name and offset", other_board, other_lines, true},
        {"one line moved", busy_moved, {"--lines", "busy=GPIO6"}, true},
        {"without bias", gpio_world{}, {"--bias", "none"}, false},
    };
    for (const chip_case& c : cases) {
        SCOPED_TRACE(c.title);
        const run_result result = run_gpio(c.world, c.options);
        expect_transfer(result);
        const shim_report r = report();
        EXPECT_EQ(get(r, "request_inputs_pulled_up"), c.pull_up ? 3 : 0);
        EXPECT_EQ(get(r, "request_inputs_without_bias"), c.pull_up ? 0 : 3);
        EXPECT_EQ(result.err.rfind("vmurx-gpio: claimed ", 0), 0U) << result.err;
    }
}

// A line someone holds and a chip the user may not open: the system's
// reason, in the tool's words, and nothing left claimed.
TEST_F(GpioTransfer, RefusalGivesTheSystemsReason) {
    struct refusal_case {
        const char* title;
        gpio_world world;
        std::vector<std::string> options;
        int error;
    };
    gpio_world held;
    held.chips[0].used = {24};
    gpio_world locked;
    locked.chips[0].open_errno = EACCES;
    gpio_world locked_among_others = locked;
    locked_among_others.chips.push_back({"gpiochip1", "other", {"A", "B"}, {}, 0});
    const refusal_case cases[] = {
        {"Select held by another program", held, {}, EBUSY},
        {"no access to the chip found", locked, {}, EACCES},
        {"no access to the chip named", locked, {"--chip", "gpiochip0"}, EACCES},
        {"no access, another chip without GPIO17", locked_among_others, {}, EACCES},
    };
    for (const refusal_case& c : cases) {
        SCOPED_TRACE(c.title);
        const run_result result = run_gpio(c.world, c.options);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err,
                  std::string("Can't open serial port: ") + std::strerror(c.error) + "\n");
        const shim_report r = report();
        EXPECT_EQ(get(r, "requests_granted"), 0);
        EXPECT_EQ(get(r, "open_chips"), 0);
        EXPECT_EQ(get(r, "ioctl_set_values") + get(r, "ioctl_get_values"), 0);
    }
}

// A wrong command line, or a chip or line that is not there: status 2, the
// reason on standard error, and no chip touched beyond its information.
TEST_F(GpioTransfer, OptionErrorsClaimNothing) {
    struct option_case {
        std::vector<std::string> options;
        const char* message;  // the first line of standard error
        bool usage;           // followed by the usage
    };
    gpio_world no_pi;
    no_pi.chips = {{"gpiochip0", "sunxi-pinctrl", {"PA0", "PA1"}, {}, 0}};
    const option_case cases[] = {
        {{"--bias", "up"}, "vmurx-gpio: invalid bias 'up': pull-up or none", true},
        {{"--lines", "d4=3"},
         "vmurx-gpio: invalid --lines: 'd4=3' is not ROLE=LINE with ROLE one of d0, d1, d2, d3, "
         "select, ack, busy",
         true},
        {{"--lines", "d0"},
         "vmurx-gpio: invalid --lines: 'd0' is not ROLE=LINE with ROLE one of d0, d1, d2, d3, "
         "select, ack, busy",
         true},
        {{"--lines", "d0="}, "vmurx-gpio: invalid --lines: no line given for d0", true},
        {{"--lines", "d0=3,"},
         "vmurx-gpio: invalid --lines: an empty entry in the list of lines",
         true},
        {{"--lines", "ack=3", "--lines", "ack=4"},
         "vmurx-gpio: invalid --lines: ack is given twice",
         true},
        {{"--frob"},
         "vmurx-gpio: unrecognized option '--frob' (the vmurx options follow '--')",
         true},
        {{"-v"}, "vmurx-gpio: invalid option -- 'v' (the vmurx options follow '--')", true},
        {{"--chip"}, "vmurx-gpio: option '--chip' requires an argument", true},
        {{"out.bin"},
         "vmurx-gpio: unexpected argument 'out.bin' (the vmurx options follow '--')",
         true},
        {{"--lines", "d0=GPIO27"}, "vmurx-gpio: d0 and d1 are both line 27 of gpiochip0", false},
        {{"--lines", "busy=58"},
         "vmurx-gpio: gpiochip0 has no line 58: its lines are 0 to 57",
         false},
        {{"--lines", "busy=PB3"}, "vmurx-gpio: gpiochip0 has no line named 'PB3'", false},
        {{"--chip", "pinctrl-rp1"},
         "vmurx-gpio: no GPIO chip is named or labelled 'pinctrl-rp1'",
         false},
        {{"--chip", "gpiochip7"}, "vmurx-gpio: /dev/gpiochip7: No such file or directory", false},
    };
    for (const option_case& c : cases) {
        SCOPED_TRACE(c.options[0] + " " + (c.options.size() > 1 ? c.options[1] : ""));
        const run_result result = run_gpio(gpio_world{}, c.options);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        const std::string first_line = result.err.substr(0, result.err.find('\n'));
        EXPECT_EQ(first_line, c.message);
        EXPECT_EQ(result.err.find("\nUsage: ") != std::string::npos, c.usage) << result.err;
        EXPECT_EQ(get(report(), "ioctl_get_line"), 0);
    }
    gpio_world no_chips;
    no_chips.chips = {};
    const struct {
        const gpio_world& world;
        std::vector<std::string> options;
        const char* err;
    } machines[] = {
        {no_pi,
         {},
         "vmurx-gpio: no GPIO chip has a line named GPIO17; name the chip with --chip\n"},
        {no_chips, {}, "vmurx-gpio: no GPIO chip: no /dev/gpiochip* exists on this machine\n"},
        {no_chips,
         {"--chip", "pinctrl-rp1"},
         "vmurx-gpio: no GPIO chip: no /dev/gpiochip* exists on this machine\n"},
    };
    for (const auto& machine : machines) {
        const run_result result = run_gpio(machine.world, machine.options);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.err, machine.err);
    }

    const run_result help = run_gpio(gpio_world{}, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: ", 0), 0U);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(get(report(), "chip_opens"), 0);
}

// A 255-block file costs no more ioctls per byte through GPIO than through
// ppdev: the same card, counted the same way.
TEST_F(GpioTransfer, CostsNoMoreIoctlsThanPpdev) {
    set_image(255, [](std::mt19937& random) { return random(); });
    ASSERT_EQ(run_ppdev().status, 0);
    const shim_report ppdev = report();
    const long long ppdev_accesses = get(ppdev, "ioctl_rstatus") + get(ppdev, "ioctl_wdata");
    expect_transfer(run_gpio(gpio_world{}, {}));
    const shim_report gpio = report();
    const long long gpio_accesses = get(gpio, "ioctl_get_values") + get(gpio, "ioctl_set_values");
    const auto bytes = static_cast<double>(image.size());
    std::printf("ioctls per file byte: ppdev %.2f, GPIO %.2f\n",
                static_cast<double>(ppdev_accesses) / bytes,
                static_cast<double>(gpio_accesses) / bytes);
    EXPECT_LE(gpio_accesses, ppdev_accesses);
}

}  // namespace
