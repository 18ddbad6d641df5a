// The tool's turn between two frames, measured through the Copy card: from
// the end of the tool's answer to a frame to its next status read, the
// tool's last delay unit and its port accesses must fit the card's gap
// before the next header (at least 0.56 ms, at the fastest RC clock). The
// counting card charges nothing else: masking is no change it could see,
// and the log and the progress line cost no card time. How long this
// machine's progress line and priority change take is the probe's verdict
// on the card's own Copy (vmurx-probe). The whole unchanged tool runs in a
// child process against the counting card; the child reports the longest
// turn it saw.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "block/program.h"
#include "cable/cable.h"
#include "lpt/byte_exchange.h"
#include "main/vmurx.h"
#include "platform/emu/emu_platform.h"
#include "run_program.h"
#include "save/sample_save.h"

namespace {

copy_card& card() {
    static copy_card the_card;
    return the_card;
}

void no_wait() {}

void report_turn(int status) {
    const std::int64_t turn_us = card().longest_turn_ps / 1'000'000;
    std::fprintf(stderr, "turn %s\n", turn_us <= CABLE_COPY_TURN_BUDGET_US ? "fits" : "overruns");
    std::fflush(stderr);
    _exit(status);
}

// The tool against the card at its fastest clock, with the delay floor
// `floor_us`, storing into `directory`; never returns.
void transfer_with_floor(unsigned floor_us, const std::string& directory) {
    if (chdir(directory.c_str()) != 0 || std::freopen("/dev/null", "w", stdout) == nullptr)
        _exit(99);
    vmu_file file;
    file.image = sample_save();
    file.name = "TURN";
    card().config.rc_khz = 1200;
    card().frames = copy_frames(file, copy_directory_bytes(file));
    card().pc.floor_us = delay_floor_us;
    set_delay_floor_us(floor_us);
    set_delay_function(no_wait);  // the card charges each unit; nothing need wait
    emu_use_copy_card(card());
    set_program_end(report_turn);
    char program[] = "vmurx";
    char* argv[] = {program, nullptr};
    vmurx_main(1, argv);
    _exit(98);
}

}  // namespace

TEST(CopyCardAndTheTool, TheToolsWorkBetweenFramesFitsTheCardsGapWithTheDefaultFloor) {
    const temp_dir fits, overruns;
    EXPECT_EXIT(transfer_with_floor(DEFAULT_DELAY_FLOOR_US, fits.path()),
                testing::ExitedWithCode(0), "turn fits");
    // A floor of 600 µs keeps the tool from listening until the first level
    // of the card's next header is over at 1200 kHz, and overruns the least
    // gap the card's firmware leaves there, 0.56 ms.
    EXPECT_EXIT(transfer_with_floor(600, overruns.path()), testing::ExitedWithCode(1),
                "turn overruns");
}
