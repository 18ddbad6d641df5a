// vmurx-send on its real Linux backend, end to end: the ppdev stand-in with
// the receiving card behind the node. The file lands on the card, and every
// register access is one ioctl, with nothing else asked of the system while
// the tool is raised.
#include <gtest/gtest.h>

#include "send_over_shim.h"
#include "shim_support.h"

TEST(PpdevSend, PutsAFileOnTheCardWithOneIoctlPerRegisterAccess) {
    temp_dir dir;
    run_options options = shim_run_options(ppdev_world{}, dir, "");
    options.env.push_back(shim_receiving_card(dir));
    std::vector<std::string> argv{VMURX_SEND_PATH, "-d", "LPT1"};
    const std::vector<std::string> words = shim_send_words(dir);
    argv.insert(argv.end(), words.begin(), words.end());
    const run_result run = run_program(argv, options);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(shim_card_file(dir), shim_sent_bytes());

    const shim_report r = read_shim_report(dir.file("report"));
    EXPECT_EQ(get(r, "receive_outcome"), 1) << read_file(dir.file("report"));  // taken
    EXPECT_GT(get(r, "receive_status_reads"), 500);
    EXPECT_EQ(get(r, "ioctl_rstatus"), get(r, "receive_status_reads"));
    EXPECT_EQ(get(r, "ioctl_wdata"), get(r, "receive_data_writes"));
    EXPECT_EQ(get(r, "ioctl_total"), get(r, "ioctl_rstatus") + get(r, "ioctl_wdata") +
                                         get(r, "ioctl_excl") + get(r, "ioctl_claim") +
                                         get(r, "ioctl_release"));
    EXPECT_EQ(get(r, "ioctl_release"), 1);
    EXPECT_EQ(get(r, "ioctl_other"), 0);
    EXPECT_EQ(get(r, "open_nodes"), 0);
    EXPECT_EQ(get(r, "calls_while_masked"), 0) << read_file(dir.file("report"));
}
