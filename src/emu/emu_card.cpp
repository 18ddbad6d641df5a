// Choosing the software card, and the delay unit that goes with it.
//
// The scripted card counts status reads and never sees the PC's delay unit,
// so the unit is the bare loop (unless VMURX_DELAY_US, which vmurx_main reads,
// says otherwise). The card's own Copy times the PC's levels by the delay
// floor: counting, the backend tells it each unit, which it charges the
// floor in its own time, and the tool does not wait; in real time the unit
// lasts the floor as on a real port. The processor card in real time, too,
// needs the PC's levels as long as on real hardware.
#include "emu/emu_card.h"

#include "emu/emu_cpu.h"
#include "emu/emu_rom.h"
#include "files/atomic_write.h"
#include "files/text.h"
#include "lpt/byte_exchange.h"
#include "platform/emu/emu_platform.h"

namespace {

vmu_cpu_card& cpu_card() {
    static vmu_cpu_card card;
    return card;
}

// What the card does after the tool has ended: long enough to time out a
// wait for the PC (six base-timer ticks, at most 3 s).
constexpr std::int64_t COPY_RUN_ON_PS = 4'000'000'000'000;

void put_copy_card(emu_options& options) {
    set_delay_floor_us(DEFAULT_DELAY_FLOOR_US);
    emu_use_copy_card(options.copy);
}

}  // namespace

bool emu_put_card(emu_options& options, std::string& error) {
    if (options.realtime)
        emu_use_realtime(options.realtime_config);
    switch (options.card) {
        case emu_card::copy:
            put_copy_card(options);
            return true;
        case emu_card::scripted:
            set_delay_floor_us(0);
            return true;
        case emu_card::cpu:
            if (!emu_prepare_cpu_card(options.cpu, cpu_card(), options.cpu.note, error))
                return false;
            emu_use_cpu_card(cpu_card());
            set_delay_floor_us(options.realtime ? DEFAULT_DELAY_FLOOR_US : 0);
            return true;
        case emu_card::rom:
            if (!emu_prepare_rom_card(options.cpu, cpu_card(), error,
                                      options.cpu.screen ? stderr : nullptr)) {
                return false;
            }
            emu_use_cpu_card(cpu_card());
            // The ROM's Copy times the PC's levels by its own clock: the
            // delay unit lasts its floor, counting as in real time.
            set_delay_floor_us(DEFAULT_DELAY_FLOOR_US);
            return true;
    }
    return true;
}

std::int64_t emu_card_time_ps(const emu_options& options) {
    switch (options.card) {
        case emu_card::copy:
            return options.copy.started ? options.copy.now_ps : 0;
        case emu_card::cpu:
        case emu_card::rom: {
            const vmu_cpu_card& card = cpu_card();
            return card.opened_ps < 0
                       ? 0
                       : static_cast<std::int64_t>(card.cpu.time_ps) - card.opened_ps;
        }
        case emu_card::scripted:
            break;
    }
    return 0;
}

void emu_show_card(emu_options& options, const char* program, std::FILE* out) {
    std::fflush(stdout);
    if (options.card == emu_card::rom) {
        if (cpu_card().opened_ps >= 0)
            emu_show_rom_card(cpu_card(), program, out);
        return;
    }
    if (options.card == emu_card::cpu) {
        if (options.cpu.screen)
            emu_print_cpu_card(cpu_card(), out);
        if (!options.cpu.note.empty())
            std::fprintf(out, "%s: the card: %s\n", program, printable(options.cpu.note).c_str());
        return;
    }
    copy_card& card = options.copy;
    if (options.card != emu_card::copy || !card.started)
        return;
    // The tool may have ended in the middle of the card's frame or wait:
    // the card goes on to where a user would find it.
    copy_card_run_to(card, card.now_ps + COPY_RUN_ON_PS);
    std::fprintf(out, "%s: the card shows \"%s\"\n", program, copy_screen_text(card.screen));
    // Notes name files as the card holds them: any bytes.
    for (const std::string& note : card.notes)
        std::fprintf(out, "%s: the card: %s\n", program, printable(note).c_str());
}

bool emu_write_report(const emu_options& options, const char* program) {
    const vmu_sim_soft* card = emu_realtime_ran();
    if (options.report_path.empty() || card == nullptr)
        return true;
    const std::string text = vmu_realtime_report(*card);
    file_error error;
    if (write_files_atomically({{options.report_path, {text.begin(), text.end()}, {}}},
                               options.replace_report, error)) {
        return true;
    }
    std::fprintf(stderr, "%s: --report %s: %s%s\n", program, printable(error.object).c_str(),
                 error.reason.c_str(),
                 error.cause == file_failure::exists ? " (use --force to replace it)" : "");
    return false;
}
