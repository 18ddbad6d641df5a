// The person at the card, on the card's own system ROM when VMURX_BIOS
// names one (skipped otherwise): from the power-on through the clock setting
// to the file manager, and there to Copy's question for a file chosen by name
// or by its place, or to the file list for receiving.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "card/card_edit.h"
#include "cardcpu/cpu/rom_person.h"

namespace {

constexpr std::uint64_t PS_PER_S = 1'000'000'000'000;

std::vector<std::uint8_t> read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A card of three data files, by the card library.
std::vector<std::uint8_t> three_files() {
    const save_stamp stamp{2001, 2, 3, 4, 5, 6};
    card_image card = card_new({255, 255, 255, 255}, 0, stamp, card_order::raw);
    for (const char* name : {"ALPHA", "BETA", "GAMMA"}) {
        std::size_t slot = 0;
        std::string reason;
        EXPECT_TRUE(card_add(
            card, {name, false, false, stamp, std::vector<std::uint8_t>(1536, 0x5A)}, slot, reason))
            << reason;
    }
    return card_to_file(card);
}

struct person_case {
    vmu_person_plan plan;
    bool reached;
    std::string last_screen;  // found in the last screen's text
};

TEST(VmuRomPerson, ReachesCopysQuestionOrTheFileList) {
    const char* path = std::getenv("VMURX_BIOS");
    if (path == nullptr || *path == '\0') {
        GTEST_SKIP() << "VMURX_BIOS names no system ROM";
    }
    const std::vector<std::uint8_t> rom = read_bytes(path);
    const std::vector<std::uint8_t> card = three_files();
    const person_case cases[] = {
        {{vmu_person_plan::goal::copy, "GAMMA", false}, true, "Copy ?"},
        {{vmu_person_plan::goal::copy, "ALPHA", false}, true, "Copy ?"},
        {{vmu_person_plan::goal::copy, "DELTA", false}, false, "/003"},
        {{vmu_person_plan::goal::copy, "BETA", true}, true, "Copying!"},
        {{vmu_person_plan::goal::receive, "", false}, true, "/003"},
    };
    for (const person_case& c : cases) {
        vmu_cpu cpu;
        ASSERT_TRUE(vmu_cpu_load_rom(cpu, rom));
        ASSERT_TRUE(vmu_cpu_load_card(cpu, card));
        vmu_cpu_reset(cpu);
        std::vector<vmu_screen_text> screens;
        const auto wall = std::chrono::steady_clock::now();
        const vmu_person_result r = vmu_person_run(
            cpu, c.plan, [&](const vmu_screen_text& s) { screens.push_back(s); }, 120 * PS_PER_S);
        const double wall_s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
        EXPECT_EQ(r.reached, c.reached) << c.plan.name << ": " << r.reason;
        ASSERT_FALSE(screens.empty());
        const vmu_screen_text& last = screens.back();
        const std::string text = last.lines[0] + last.lines[1] + last.lines[2] + last.lines[3];
        EXPECT_NE(text.find(c.last_screen), std::string::npos) << c.plan.name << ": " << text;
        std::printf("%s: card %.2f s, wall %.2f s\n", c.plan.name.c_str(),
                    static_cast<double>(r.card_ps) / PS_PER_S, wall_s);
    }
}

}  // namespace
