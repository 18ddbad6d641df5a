// vmurx-send-gpio on the GPIO backend, end to end: the GPIO stand-in with
// the receiving card wired to the default lines. The file lands on the
// card, and every register access is one ioctl on the line request.
#include <gtest/gtest.h>

#include "gpio_shim_support.h"
#include "send_over_shim.h"

TEST(GpioSend, PutsAFileOnTheCardWithOneIoctlPerRegisterAccess) {
    temp_dir dir;
    run_options options = gpio_run_options(gpio_world{}, dir, "");
    options.env.push_back(shim_receiving_card(dir));
    std::vector<std::string> argv{VMURX_SEND_GPIO_PATH, "--"};
    const std::vector<std::string> words = shim_send_words(dir);
    argv.insert(argv.end(), words.begin(), words.end());
    const run_result run = run_program(argv, options);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(shim_card_file(dir), shim_sent_bytes());

    const shim_report r = read_shim_report(dir.file("report"));
    EXPECT_EQ(get(r, "receive_outcome"), 1) << read_file(dir.file("report"));  // taken
    EXPECT_GT(get(r, "receive_status_reads"), 500);
    EXPECT_EQ(get(r, "ioctl_get_values"), get(r, "receive_status_reads"));
    // The claim itself sets the card's D0 to D3 once.
    EXPECT_EQ(get(r, "ioctl_set_values") + 1, get(r, "receive_data_writes"));
    EXPECT_EQ(get(r, "ioctl_total"), get(r, "ioctl_get_values") + get(r, "ioctl_set_values") +
                                         get(r, "ioctl_chipinfo") + get(r, "ioctl_lineinfo") +
                                         get(r, "ioctl_get_line"));
    EXPECT_EQ(get(r, "ioctl_other"), 0);
    EXPECT_EQ(get(r, "requests_released"), 1);
    EXPECT_EQ(get(r, "calls_while_masked"), 0) << read_file(dir.file("report"));
}
