// vmurx-vmu run: runs a game on the processor model from the card's start
// state for a time of the card's own, pressing buttons on the way, and then
// prints the screen and the registers as asked. With the card's system ROM
// (--bios, or VMURX_BIOS when no game is named) it boots the ROM instead,
// on the card image --card names or on a newly formatted card.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "card/card_disk.h"
#include "card/card_image.h"
#include "cardcpu/cpu/cpu.h"
#include "cardcpu/cpu/rom_person.h"
#include "cardcpu/cpu/rom_screen.h"
#include "clock/time_units.h"
#include "files/bounded_read.h"
#include "files/text.h"
#include "vmu_tool/card_game.h"
#include "vmu_tool/vmu_tool.h"

namespace {

constexpr std::size_t GAME_MAX_BYTES = std::size_t{CARD_STANDARD_USER_BLOCKS} * IMAGE_BLOCK_SIZE;
constexpr std::uint64_t PRESS_MS = 100;
constexpr std::uint64_t PS_PER_S = 1'000'000'000'000;
constexpr std::uint64_t PERSON_LIMIT_S = 600;            // the card's time the person may take
constexpr std::uint64_t MAX_MS = 100'000'000;            // about a day
constexpr std::uint64_t MAX_CYCLES = 1'000'000'000'000;  // hours at any clock

struct press {
    std::uint8_t button;
    std::uint64_t from_ms;
};

struct run_options {
    std::uint64_t ms = 1000;
    bool ms_given = false;
    std::uint64_t cycles = 0;  // when not 0, the limit instead of ms
    std::vector<press> presses;
    std::string card;
    std::string bios;  // the system ROM to boot, or empty for a game
    bool lcd = false;
    bool text = false;
    bool regs = false;
    std::string person;  // copy:ENTRY or receive; empty: the presses only
    bool screen = false;
};

bool parse_press(const std::string& text, press& out) {
    static const char* const names[] = {"up", "down", "left", "right", "a", "b", "mode", "sleep"};
    const std::size_t at = text.find('@');
    if (at == std::string::npos) {
        return false;
    }
    const std::string name = text.substr(0, at);
    for (unsigned bit = 0; bit < 8; ++bit) {
        if (name == names[bit]) {
            out.button = static_cast<std::uint8_t>(1U << bit);
            return cli_parse_uint(std::string_view(text).substr(at + 1), 0, MAX_MS, out.from_ms);
        }
    }
    return false;
}

// One option's value into `o`: false with the message for a bad one.
bool take_option(const cli_given& given, run_options& o, std::string& error) {
    press p{};
    switch (given.id) {
        case VMU_TOOL_MS:
            if (!cli_parse_uint(given.value, 1, MAX_MS, o.ms))
                error = "bad --ms '" + given.value + "'";
            o.ms_given = true;
            break;
        case VMU_TOOL_CYCLES:
            if (!cli_parse_uint(given.value, 1, MAX_CYCLES, o.cycles))
                error = "bad --cycles '" + given.value + "'";
            break;
        case VMU_TOOL_PRESS:
            if (!parse_press(given.value, p))
                error = "bad --press '" + given.value + "' (BUTTON@MS, e.g. a@200)";
            o.presses.push_back(p);
            break;
        case VMU_TOOL_CARD:
            o.card = given.value;
            break;
        case VMU_TOOL_BIOS:
            o.bios = given.value;
            break;
        case VMU_TOOL_LCD:
            o.lcd = true;
            break;
        case VMU_TOOL_TEXT:
            o.text = true;
            break;
        case VMU_TOOL_PERSON:
            if (given.value != "receive" &&
                (given.value.rfind("copy:", 0) != 0 || given.value.size() == 5))
                error = "bad --person '" + given.value + "' (copy:ENTRY or receive)";
            o.person = given.value;
            break;
        case VMU_TOOL_SCREEN:
            o.screen = true;
            break;
        default:  // VMU_TOOL_REGS
            o.regs = true;
            break;
    }
    return error.empty();
}

// The run's options and its FILE; the status after the usage for a bad one.
int parse_run(const cli_parsed& cl, run_options& o, std::string& file) {
    std::string error;
    for (const cli_given& given : cl.options) {
        if (!take_option(given, o, error)) {
            return vmu_tool_usage_error(error);
        }
    }
    if (o.ms_given && o.cycles != 0) {
        return vmu_tool_usage_error("--ms and --cycles exclude each other");
    }
    if (o.bios.empty() && cl.operands.empty()) {
        const char* bios = std::getenv("VMURX_BIOS");
        o.bios = bios != nullptr ? bios : "";
    }
    if (!o.person.empty() &&
        (o.bios.empty() || !o.presses.empty() || o.ms_given || o.cycles != 0)) {
        return vmu_tool_usage_error(
            o.bios.empty() ? "--person plays the person at the system ROM: give --bios ROM"
                           : "--person presses the buttons itself and runs to its goal: give no "
                             "--press, --ms or --cycles");
    }
    if (o.screen && o.person.empty()) {
        return vmu_tool_usage_error("--screen prints the screens --person passes: give --person");
    }
    if (o.text && o.bios.empty()) {
        return vmu_tool_usage_error(
            "--text reads the screen with the system ROM's font: give "
            "--bios ROM");
    }
    if (!o.bios.empty()) {
        if (!cl.operands.empty()) {
            return vmu_tool_usage_error(
                "run: the system ROM starts the card's games itself: give no FILE with --bios "
                "(the card with --card IMAGE)");
        }
        file = o.bios;
        return -1;
    }
    if (cl.operands.size() != 1) {
        return vmu_tool_usage_error(cl.operands.empty()
                                        ? "run: no FILE (or --bios ROM to boot the system ROM)"
                                        : "run: one FILE only");
    }
    file = cl.operands.front();
    return -1;
}

// Takes the system ROM and the card it boots on, and resets into the ROM:
// -1, or the exit status (2 for a ROM the model cannot boot).
int load_rom(vmu_cpu& cpu, const run_options& o) {
    bounded_file read;
    file_error error;
    if (!read_file_bounded(o.bios, VMU_ROM_SIZE, read, error) &&
        error.cause != file_failure::too_large) {
        return vmu_tool_fail(o.bios, error.reason);
    }
    // A file larger than a ROM is refused as one of the wrong size.
    const std::string problem =
        error.cause == file_failure::too_large
            ? "more than the " + std::to_string(VMU_ROM_SIZE) + " bytes of a system ROM"
            : vmu_rom_problem(read.bytes);
    if (!problem.empty()) {
        vmu_tool_fail(o.bios, "not a system ROM the model can boot: " + problem);
        return 2;
    }
    std::vector<std::uint8_t> flash = card_blank_flash();
    if (!o.card.empty()) {
        bounded_file card;
        std::string reason;
        if (!read_file_bounded(o.card, VMU_FLASH_SIZE, card, error)) {
            return vmu_tool_fail(o.card, error.reason + (error.cause == file_failure::too_large
                                                             ? ", more than a card image"
                                                             : ""));
        }
        if (!card_whole_flash(card.bytes, flash, reason)) {
            return vmu_tool_fail(o.card, reason);
        }
    }
    vmu_cpu_load_rom(cpu, read.bytes);
    vmu_cpu_load_card(cpu, flash);
    vmu_cpu_reset(cpu);
    return -1;
}

// Fills the flash from FILE, or from the card image that holds the game FILE.
bool load(vmu_cpu& cpu, const run_options& o, const std::string& file) {
    bounded_file read;
    file_error error;
    const std::string& path = o.card.empty() ? file : o.card;
    // A card image is the whole flash; a game takes at most the user area.
    if (!read_file_bounded(path, o.card.empty() ? GAME_MAX_BYTES : VMU_FLASH_SIZE, read, error)) {
        vmu_tool_fail(path, error.reason + (error.cause != file_failure::too_large ? ""
                                            : o.card.empty() ? ", more than a game's 200 blocks"
                                                             : ", more than a card image"));
        return false;
    }
    if (o.card.empty()) {
        return vmu_cpu_load_game(cpu, read.bytes);
    }
    std::vector<std::uint8_t> flash;
    std::string reason;
    if (!card_game_flash(read.bytes, file, flash, reason) || !vmu_cpu_load_card(cpu, flash)) {
        vmu_tool_fail(path, reason.empty() ? "not a 131072-byte card image" : reason);
        return false;
    }
    return true;
}

// The buttons held at `ms`.
std::uint8_t held_at(const std::vector<press>& presses, std::uint64_t ms) {
    std::uint8_t held = 0;
    for (const press& p : presses) {
        if (ms >= p.from_ms && ms < p.from_ms + PRESS_MS) {
            held |= p.button;
        }
    }
    return held;
}

// The next moment after `ms` at which a button goes down or up.
std::uint64_t next_change(const std::vector<press>& presses, std::uint64_t ms) {
    std::uint64_t next = UINT64_MAX;
    for (const press& p : presses) {
        for (std::uint64_t edge : {p.from_ms, p.from_ms + PRESS_MS}) {
            if (edge > ms) {
                next = std::min(next, edge);
            }
        }
    }
    return next;
}

void run(vmu_cpu& cpu, const run_options& o) {
    const std::uint64_t end_ps = o.cycles != 0 ? UINT64_MAX : o.ms * PS_PER_MS;
    const std::uint64_t end_cycles = o.cycles != 0 ? o.cycles : UINT64_MAX;
    while (cpu.state == vmu_cpu_state::running && cpu.time_ps < end_ps && cpu.cycles < end_cycles) {
        const std::uint64_t now_ms = cpu.time_ps / PS_PER_MS;
        vmu_cpu_set_buttons(cpu, held_at(o.presses, now_ms));
        const std::uint64_t change = next_change(o.presses, now_ms);
        const std::uint64_t until_ps =
            std::min(end_ps, change == UINT64_MAX ? UINT64_MAX : change * PS_PER_MS);
        while (cpu.time_ps < until_ps && cpu.cycles < end_cycles && vmu_cpu_step(cpu) != 0) {
        }
    }
}

// The name of the card's file that ENTRY names (by name or #SLOT), through
// the card library, as every program finds an entry; false after the message.
bool entry_name(const run_options& o, const std::string& entry, std::string& name) {
    if (o.card.empty()) {
        vmu_tool_fail(entry, "a newly formatted card holds no file: give --card IMAGE");
        return false;
    }
    bounded_file read;
    file_error error;
    card_image card;
    card_layout layout;
    std::size_t slot = 0;
    std::string reason;
    if (!read_file_bounded(o.card, VMU_FLASH_SIZE, read, error)) {
        vmu_tool_fail(o.card, error.reason);
        return false;
    }
    if (!card_from_file(read.bytes, card, reason) || !card_read_layout(card, layout, reason) ||
        !card_find_entry(card, layout, entry, slot, reason)) {
        vmu_tool_fail(o.card, reason);
        return false;
    }
    name = card_file_name(card_read_entry(card, layout, slot));
    return true;
}

void print_screen(const vmu_cpu& cpu, const vmu_screen_text& s) {
    std::printf("%.2f s\n", static_cast<double>(cpu.time_ps) / static_cast<double>(PS_PER_S));
    for (const std::string& line : s.lines) {
        std::printf("|%s|\n", printable(line).c_str());
    }
}

// The person at the card to its goal: 0, or 1 after the reason it stopped.
int run_person(vmu_cpu& cpu, const run_options& o) {
    vmu_person_plan plan;
    if (o.person != "receive") {
        plan.what = vmu_person_plan::goal::copy;
        if (!entry_name(o, o.person.substr(5), plan.name)) {
            return 1;
        }
    } else {
        plan.what = vmu_person_plan::goal::receive;
    }
    const vmu_person_result r = vmu_person_run(
        cpu, plan,
        [&](const vmu_screen_text& s) {
            if (o.screen) {
                print_screen(cpu, s);
            }
        },
        PERSON_LIMIT_S * PS_PER_S);
    if (!r.reached) {
        std::fprintf(stderr, "%s: the person at the card stopped after %.2f s: %s\n",
                     VMU_TOOL_PROGRAM,
                     static_cast<double>(r.card_ps) / static_cast<double>(PS_PER_S),
                     printable(r.reason).c_str());
        return 1;
    }
    return 0;
}

void print_regs(const vmu_cpu& cpu) {
    std::printf("ACC=%02X PSW=%02X B=%02X C=%02X TRL=%02X TRH=%02X SP=%02X PC=%04X\n",
                vmu_cpu_read(cpu, vmu_sfr("ACC")), vmu_cpu_read(cpu, vmu_sfr("PSW")),
                vmu_cpu_read(cpu, vmu_sfr("B")), vmu_cpu_read(cpu, vmu_sfr("C")),
                vmu_cpu_read(cpu, vmu_sfr("TRL")), vmu_cpu_read(cpu, vmu_sfr("TRH")),
                vmu_cpu_read(cpu, vmu_sfr("SP")), cpu.pc);
}

void print_lcd(const vmu_cpu& cpu) {
    std::string line(VMU_LCD_WIDTH, '.');
    for (int y = 0; y < VMU_LCD_HEIGHT; ++y) {
        for (int x = 0; x < VMU_LCD_WIDTH; ++x) {
            line[static_cast<std::size_t>(x)] = vmu_cpu_lcd_pixel(cpu, x, y) ? '#' : '.';
        }
        std::printf("%s\n", line.c_str());
    }
}

}  // namespace

int vmu_tool_run(const cli_parsed& command_line) {
    run_options o;
    std::string file;
    if (const int status = parse_run(command_line, o, file); status >= 0) {
        return status;
    }
    vmu_cpu cpu;
    if (!o.bios.empty()) {
        if (const int status = load_rom(cpu, o); status >= 0) {
            return status;
        }
    } else {
        vmu_cpu_reset(cpu);
        if (!load(cpu, o, file)) {
            return 1;
        }
    }
    int person_status = 0;
    if (o.person.empty()) {
        run(cpu, o);
    } else {
        person_status = run_person(cpu, o);
    }
    for (const std::string& note : vmu_cpu_notes(cpu)) {
        std::fprintf(stderr, "%s: note: %s\n", VMU_TOOL_PROGRAM, note.c_str());
    }
    if (o.regs) {
        print_regs(cpu);
    }
    if (o.lcd) {
        print_lcd(cpu);
    }
    if (o.text) {
        for (const std::string& line : vmu_rom_screen_text(cpu).lines) {
            std::printf("|%s|\n", line.c_str());
        }
    }
    const double ms = static_cast<double>(cpu.time_ps) / static_cast<double>(PS_PER_MS);
    const std::string shown = printable(file);
    if (cpu.state == vmu_cpu_state::ended) {
        std::fprintf(stderr, "%s: %s: game_end after %llu cycles (%.3f ms)\n", VMU_TOOL_PROGRAM,
                     shown.c_str(), static_cast<unsigned long long>(cpu.cycles), ms);
    } else if (cpu.state == vmu_cpu_state::fault) {
        std::fprintf(stderr, "%s: %s: %s at PC %04X\n", VMU_TOOL_PROGRAM, shown.c_str(),
                     cpu.fault.c_str(), cpu.fault_pc);
        return 1;
    }
    return person_status;
}
