// The card's system ROM behind the port: the ROM and the card image read,
// the person at the card played to Copy's start, and the screen the card
// ends on.
#include "emu/emu_rom.h"

#include <cstdlib>
#include <vector>

#include "card/card_disk.h"
#include "cardcpu/cpu/rom_person.h"
#include "cardcpu/cpu/rom_screen.h"
#include "clock/time_units.h"
#include "files/bounded_read.h"
#include "files/text.h"

namespace {

// The card's time the person may take from the power-on to Copy's start:
// the boot and the clock setting take about half a minute, each step down
// the file list a second.
constexpr auto PS_PER_S = static_cast<std::uint64_t>(1000 * PS_PER_MS);
constexpr std::uint64_t PERSON_LIMIT_PS = 600 * PS_PER_S;

// What the card does once the tool has ended: long enough for its Copy to
// give up a wait for the PC (six base-timer ticks) and show the outcome.
constexpr std::uint64_t RUN_ON_PS = 4 * PS_PER_S;

// Yes and A at a person's pace, from the moment the tool holds the port.
// The ROM takes an arrow in its menus only once it has been held a while.
constexpr double YES_AFTER_MS = 200;
constexpr double ARROW_HOLD_MS = 500;
constexpr double PAUSE_MS = 400;
constexpr double PRESS_MS = 100;

// How long the card may take after the tool to be done with a file it
// received, looked at every 50 ms: its file list back for 600 ms, past the
// ROM's redraws, within 20 s.
constexpr std::uint64_t FINISH_LIMIT_PS = 20 * PS_PER_S;
constexpr std::uint64_t FINISH_LOOK_PS = 50 * PS_PER_MS;
constexpr std::uint64_t FINISH_SETTLED_PS = 600 * PS_PER_MS;

constexpr char NO_ROM[] =
    "--bios: no system ROM given and VMURX_BIOS is not set: give --bios ROM, the card's "
    "64 KiB system ROM image (doc/firmware.md says how to build one)";

bool read_rom_file(const std::string& path, std::vector<std::uint8_t>& rom, std::string& error) {
    bounded_file read;
    file_error failure;
    if (!read_file_bounded(path, VMU_ROM_SIZE, read, failure) &&
        failure.cause != file_failure::too_large) {
        error = "--bios " + path + ": " + failure.reason;
        return false;
    }
    // A file larger than a ROM is refused as one of the wrong size.
    const std::string problem =
        failure.cause == file_failure::too_large
            ? "more than the " + std::to_string(VMU_ROM_SIZE) + " bytes of a system ROM"
            : vmu_rom_problem(read.bytes);
    if (!problem.empty()) {
        error = "--bios " + path + ": not a system ROM the model can boot: " + problem;
        return false;
    }
    rom = std::move(read.bytes);
    return true;
}

// The name of the entry ENTRY names, as the card's file list shows it.
bool entry_name(const card_image& image, const std::string& entry, std::string& name,
                std::string& error) {
    card_layout layout;
    std::size_t slot = 0;
    if (!card_read_layout(image, layout, error) ||
        !card_find_entry(image, layout, entry, slot, error)) {
        error = "--entry " + entry + ": " + error;
        return false;
    }
    name = card_file_name(card_read_entry(image, layout, slot));
    return true;
}

// The screen's lines, trailing blanks cut, the empty ones left out.
std::string screen_words(const vmu_screen_text& s) {
    std::string words;
    for (const std::string& line : s.lines) {
        const std::size_t end = line.find_last_not_of(' ');
        if (end == std::string::npos)
            continue;
        words += (words.empty() ? "" : " | ") + line.substr(0, end + 1);
    }
    return words;
}

void print_screen(const vmu_cpu& cpu, const vmu_screen_text& s, std::FILE* out) {
    std::fprintf(out, "card: %.2f s\n",
                 static_cast<double>(cpu.time_ps) / static_cast<double>(PS_PER_S));
    for (const std::string& line : s.lines)
        std::fprintf(out, "card: |%s|\n", printable(line).c_str());
}

// The ROM booted on `card` with `image` as its flash, no PC on the cable
// yet (its clock line idle high, no peer), and the person at the card
// played to `plan`'s goal.
bool boot_to(const std::vector<std::uint8_t>& rom, const card_image& image,
             const vmu_person_plan& plan, vmu_cpu_card& card, std::string& error,
             std::FILE* screens) {
    vmu_cpu_load_rom(card.cpu, rom);
    vmu_cpu_load_card(card.cpu, image.bytes);
    card.cycles_per_read = 1;
    card.docked = false;
    card.presses.clear();
    card.data = DATA_SEND_CLOCK;
    cpu_card_reset(card);
    const vmu_person_result r = vmu_person_run(
        card.cpu, plan,
        [&](const vmu_screen_text& s) {
            if (screens != nullptr)
                print_screen(card.cpu, s, screens);
        },
        PERSON_LIMIT_PS);
    if (!r.reached) {
        error = "the person at the card stopped after " + std::to_string(r.card_ps / PS_PER_S) +
                " s of the card's time: " + r.reason;
        return false;
    }
    return true;
}

// The file list, as the card shows it once it is back there after a
// transfer: its counter "nnn/ttt" on the first line, or no files.
bool on_file_list(const vmu_screen_text& s) {
    const std::string& top = s.lines[0];
    const std::size_t slash = top.find('/');
    const bool counter = slash != std::string::npos && slash >= 3 && slash + 3 < top.size();
    return counter || (s.lines[0] + s.lines[1] + s.lines[2] + s.lines[3]).find("No saved") !=
                          std::string::npos;
}

}  // namespace

bool emu_read_rom(const std::string& path, std::vector<std::uint8_t>& rom, std::string& error) {
    std::string chosen = path;
    if (chosen.empty()) {
        const char* given = std::getenv("VMURX_BIOS");
        chosen = given != nullptr ? given : "";
    }
    if (chosen.empty()) {
        error = NO_ROM;
        return false;
    }
    return read_rom_file(chosen, rom, error);
}

bool emu_prepare_rom_card(const emu_cpu_options& options, vmu_cpu_card& card, std::string& error,
                          std::FILE* screens) {
    std::vector<std::uint8_t> rom;
    card_image image;
    file_error failure;
    vmu_person_plan plan;
    if (!emu_read_rom(options.bios_path, rom, error))
        return false;
    if (!card_load(options.card_path, image, failure)) {
        error = failure.object + ": " + failure.reason;
        return false;
    }
    if (!entry_name(image, options.entry, plan.name, error))
        return false;
    plan.what = vmu_person_plan::goal::copy;
    plan.start = false;
    if (!boot_to(rom, image, plan, card, error, screens))
        return false;
    // The PC holds the port from now on, as the tool leaves it idle: the
    // cable stands for the second card. Yes is answered once the tool is
    // there, as a user starts the tool first: the ROM's Copy sends its first
    // header 67 ms after A whether anyone listens or not.
    cpu_card_set_data(card, CABLE_DATA_IDLE);
    const double now_ms = static_cast<double>(card.cpu.time_ps) / static_cast<double>(PS_PER_MS);
    card.presses = {{VMU_BUTTON_LEFT, now_ms + YES_AFTER_MS, ARROW_HOLD_MS},
                    {VMU_BUTTON_A, now_ms + YES_AFTER_MS + ARROW_HOLD_MS + PAUSE_MS, PRESS_MS}};
    card.target_cycle = card.cpu.cycles;
    card.ever_driven = 0;
    return true;
}

void emu_show_rom_card(vmu_cpu_card& card, const char* program, std::FILE* out) {
    // The card goes on to where a user would find it, past the waits of its
    // Copy for the PC, and its screen then tells how the Copy ended.
    const double ended_s = static_cast<double>(card.cpu.time_ps) / static_cast<double>(PS_PER_S);
    const double opened_s = static_cast<double>(card.opened_ps) / static_cast<double>(PS_PER_S);
    cpu_card_run_to_ms(
        card, static_cast<double>(card.cpu.time_ps + RUN_ON_PS) / static_cast<double>(PS_PER_MS));
    const std::string shown = screen_words(vmu_rom_screen_text(card.cpu));
    std::fprintf(out, "%s: the card shows \"%s\"\n", program, printable(shown).c_str());
    std::fprintf(out,
                 "%s: the card: %.3f s of its own time from the port's opening to the tool's end\n",
                 program, ended_s - opened_s);
    if (card.cpu.state == vmu_cpu_state::fault)
        std::fprintf(out, "%s: the card stopped at %04X: %s\n", program, card.cpu.fault_pc,
                     card.cpu.fault.c_str());
}

bool emu_prepare_rom_receive(const std::vector<std::uint8_t>& rom, const card_image& image,
                             vmu_cpu_card& card, std::string& error, std::FILE* screens) {
    vmu_person_plan plan;
    plan.what = vmu_person_plan::goal::receive;
    if (!boot_to(rom, image, plan, card, error, screens))
        return false;
    // The tool raises D3 when it opens the port; until then no peer.
    card.target_cycle = card.cpu.cycles;
    card.ever_driven = 0;
    return true;
}

bool emu_finish_rom_receive(vmu_cpu_card& card, std::string& shown) {
    // The ROM writes the flash before it answers the last frame, and once
    // the PC's D3 has fallen it leaves receive mode for its file list: the
    // card is done when that list has been on its screen for a while and
    // its flash chip takes no page.
    const std::uint64_t until = card.cpu.time_ps + FINISH_LIMIT_PS;
    std::uint64_t listed_since = 0;
    bool listed = false;
    while (card.cpu.time_ps < until && card.cpu.state == vmu_cpu_state::running) {
        cpu_card_run_to_ms(card, static_cast<double>(card.cpu.time_ps + FINISH_LOOK_PS) /
                                     static_cast<double>(PS_PER_MS));
        const bool now_listed = on_file_list(vmu_rom_screen_text(card.cpu)) &&
                                card.cpu.flash_chip.to_load == 0 &&
                                card.cpu.flash_chip.busy_until_ps <= card.cpu.time_ps;
        if (now_listed && !listed)
            listed_since = card.cpu.time_ps;
        listed = now_listed;
        if (listed && card.cpu.time_ps - listed_since >= FINISH_SETTLED_PS)
            break;
    }
    shown = screen_words(vmu_rom_screen_text(card.cpu));
    return listed && card.cpu.time_ps - listed_since >= FINISH_SETTLED_PS;
}
