// A sitting of vmurx-send on the card's own system ROM, run on the
// processor model: a person brings the card to its file list, and the
// tool sends every file of a card image, waiting between two files as it
// does for a real card, with nothing pressed. The ROM's flash must end as
// the software receiving card leaves its image, byte for byte. Only when
// VMURX_BIOS names a ROM image; the ROM is never part of the tree.
#include <cstdlib>

#include "cardcpu/cpu/rom_person.h"
#include "files/bounded_read.h"
#include "platform/emu/emu_platform.h"
#include "send/send_main.h"
#include "send/send_options.h"
#include "vmu/cpu_card/cpu_card.h"

#include "send_support.h"

namespace {

vmu_cpu_card& rom_card() {
    static vmu_cpu_card card;
    return card;
}

std::int64_t rom_card_ns() {
    return static_cast<std::int64_t>(rom_card().cpu.time_ps / 1'000);
}

}  // namespace

TEST(SendRom, TheRomCardTakesAWholeImageWithNothingPressedAsTheSoftwareCardDoes) {
    const char* rom_path = std::getenv("VMURX_BIOS");
    if (rom_path == nullptr || *rom_path == '\0')
        GTEST_SKIP() << "VMURX_BIOS names no system ROM";
    bounded_file rom;
    file_error failure;
    ASSERT_TRUE(read_file_bounded(rom_path, VMU_ROM_SIZE, rom, failure)) << failure.reason;

    temp_dir dir;
    // The game last on the source: it goes first all the same.
    store(card_holding(card_holding(blank_card(), {{"ONE", 2}, {"TWO", 1}}), {{"GAME", 3}}, true),
          dir.file("source.bin"));
    store(blank_card(), dir.file("card.bin"));
    const run_result soft =
        send_emu(dir, {"--card", "card.bin"}, {"-q", "--card", "source.bin", "--all"});
    ASSERT_EQ(soft.status, 0) << soft.err;

    vmu_cpu_card& card = rom_card();
    ASSERT_TRUE(vmu_cpu_load_rom(card.cpu, rom.bytes));
    ASSERT_TRUE(vmu_cpu_load_card(card.cpu, blank_card().bytes));
    card.cycles_per_read = 1;
    card.data = DATA_SEND_CLOCK;  // no PC on the cable yet
    cpu_card_reset(card);
    vmu_person_plan plan;
    plan.what = vmu_person_plan::goal::receive;
    const vmu_person_result person = vmu_person_run(
        card.cpu, plan, [](const vmu_screen_text&) {}, 600ULL * 1'000 * PS_PER_MS);
    ASSERT_TRUE(person.reached) << person.reason;
    cpu_card_set_data(card, CABLE_DATA_IDLE);
    card.target_cycle = card.cpu.cycles;
    emu_use_cpu_card(card);

    const std::string source = dir.file("source.bin");
    std::vector<std::string> words{"vmurx-send", "-q", "--card", source, "--all"};
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const std::uint64_t began_ps = card.cpu.time_ps;
    ASSERT_EQ(send_main(static_cast<int>(words.size()), argv.data(), send_usage("vmurx-send"),
                        rom_card_ns),
              0);
    // Six blocks at about 4 s each, two waits of 9 s between files, and
    // each file's lead, start, name and last frames (6.7 s here): no first
    // header sent again for a card that was not back on its list.
    const double took_s = static_cast<double>(card.cpu.time_ps - began_ps) / (1e3 * PS_PER_MS);
    EXPECT_GT(took_s, 6 * 3.5 + 2 * 9);
    EXPECT_LT(took_s, 6 * 4.5 + 2 * 9 + 3 * 8);
    const std::string flash(card.cpu.flash.begin(), card.cpu.flash.end());
    EXPECT_EQ(flash, read_file(dir.file("card.bin")));
}
