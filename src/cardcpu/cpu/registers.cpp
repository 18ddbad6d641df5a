// The special function registers: how a read and a write of each behave, and
// what the program is told when it uses one beyond what the model does (the
// list of them is sfr.h). Also the start state, loading the flash, the
// clocks and the LCD picture, all of which are register matters. The units
// behind the registers (timers, serial ports, pins) have files of their own.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <string>
#include <utility>

#include "cardcpu/cpu/cpu_internal.h"
#include "cardcpu/cpu/timers.h"

namespace {

using enum vmu_sfr_kind;

struct sfr_table {
    std::array<const vmu_sfr_info*, 0x80> info{};
};

const sfr_table& table() {
    static const sfr_table built = [] {
        sfr_table t;
        for (const vmu_sfr_info& row : vmu_sfr_infos) {
            t.info[row.address - 0x100] = &row;
        }
        return t;
    }();
    return built;
}

const vmu_sfr_info* info_of(std::uint16_t address) {
    return table().info[address - 0x100];
}

// A timer's run bits changing in `edges` (those that rose, or for T1 those
// that changed either way) load its counters from the reloads.
void load_timers(std::uint8_t edges, std::uint8_t cnt, std::uint8_t& low, std::uint8_t& high,
                 std::uint8_t low_reload, std::uint8_t high_reload) {
    if ((edges & 0x40) != 0) {
        low = low_reload;
    }
    // The 16-bit counter (bit 5) runs on the low half's bit and loads whole.
    if ((edges & 0x80) != 0 || ((edges & 0x40) != 0 && (cnt & 0x20) != 0)) {
        high = high_reload;
    }
}

// Whether T1's low or high half counts under T1CNT `cnt`: the 16-bit
// counter runs both halves on the low half's bit.
bool t1_low_runs(std::uint8_t cnt) {
    return (cnt & 0x40) != 0;
}
bool t1_high_runs(std::uint8_t cnt) {
    return (cnt & 0x80) != 0 || (cnt & 0x60) == 0x60;
}

void write_ocr(vmu_cpu& cpu, std::uint8_t value) {
    sfr_at(cpu, vmu_sfr("OCR")) = value;
    const unsigned source = (value >> 4) & 3;
    // bit 1 stops the RC oscillator, bit 0 the ceramic one.
    if ((source == 0 && (value & 0x02) != 0) || ((source & 1) != 0 && (value & 0x01) != 0)) {
        cpu_fault(cpu, "OCR stopped the clock the processor runs on");
    }
    cpu.cycle_ps = vmu_cpu_cycle_ps(cpu);
}

// Whether writing `value` asks of the register what a real card would do
// and the model does not.
bool asks_beyond_model(std::uint16_t address, std::uint8_t value) {
    switch (address) {
        case vmu_sfr("STAD"):
            return value != 0;
        case vmu_sfr("T0CNT"):
            return (value & 0x10) != 0;
        case vmu_sfr("XBNK"):
            return value > 2;
        case vmu_sfr("SCON0"):
        case vmu_sfr("SCON1"):
            return (value & 0xF0) != 0;
        case vmu_sfr("P3INT"):
            return (value & 0xF8) != 0;
        case vmu_sfr("ISL"):
            return value != 0xC0;
        case vmu_sfr("VLREG"):
            return true;
        default:
            return false;
    }
}

// The work RAM address VRMAD2:VRMAD1 names (9 bits).
unsigned work_ram_address(const vmu_cpu& cpu) {
    return ((sfr_at(cpu, vmu_sfr("VRMAD2")) & 1U) << 8) | sfr_at(cpu, vmu_sfr("VRMAD1"));
}

// What a write does beyond storing the value: true when the value went
// elsewhere (a counter, the clock, work RAM) or nowhere, and is not to be
// stored.
bool write_elsewhere(vmu_cpu& cpu, std::uint16_t address, std::uint8_t value) {
    switch (address) {
        case vmu_sfr("OCR"):
            write_ocr(cpu, value);
            return true;
        case vmu_sfr("T0CNT"):
            load_timers(static_cast<std::uint8_t>(value & ~sfr_at(cpu, address)), value, cpu.t0l,
                        cpu.t0h, sfr_at(cpu, vmu_sfr("T0LR")), sfr_at(cpu, vmu_sfr("T0HR")));
            return false;
        case vmu_sfr("T1CNT"):
            // T1 loads its reloads when it starts and when it stops: stopped
            // after a write to T1L it reads what was written (measured on a
            // card by the authors of a timer test program).
            load_timers(static_cast<std::uint8_t>(value ^ sfr_at(cpu, address)),
                        static_cast<std::uint8_t>(value | sfr_at(cpu, address)), cpu.t1l, cpu.t1h,
                        sfr_at(cpu, vmu_sfr("T1LR")), sfr_at(cpu, vmu_sfr("T1HR")));
            t1_started(cpu, sfr_at(cpu, address), value);
            return false;
        case vmu_sfr("T1L"):
            // The reload; a stopped half's counter takes it too.
            sfr_at(cpu, address) = value;
            if (!t1_low_runs(sfr_at(cpu, vmu_sfr("T1CNT")))) {
                cpu.t1l = value;
            }
            return true;
        case vmu_sfr("T1H"):
            sfr_at(cpu, address) = value;
            if (!t1_high_runs(sfr_at(cpu, vmu_sfr("T1CNT")))) {
                cpu.t1h = value;
            }
            return true;
        case vmu_sfr("T0L"):
            cpu.t0l = value;  // T0's counters are set directly; T0LR and T0HR reload
            return true;
        case vmu_sfr("T0H"):
            cpu.t0h = value;
            return true;
        case vmu_sfr("SCON0"):
        case vmu_sfr("SCON1"):
            sio_control(cpu, address == vmu_sfr("SCON0") ? 0 : 1, value);
            return true;
        case vmu_sfr("SBUF0"):
            cpu.sio[0].shift = value;
            return true;
        case vmu_sfr("SBUF1"):
            cpu.sio[1].shift = value;
            return true;
        case vmu_sfr("VTRBF"):
            cpu.work_ram[work_ram_address(cpu)] = value;
            return true;
        case vmu_sfr("P7"):
            return true;  // input only
        case vmu_sfr("BTCR"):
            sfr_at(cpu, address) = value;
            base_timer_retime(cpu);
            return true;
        default:
            return false;
    }
}

// VTRBF moves VRMAD on after each access while VSEL bit 4 asks for it.
void work_ram_accessed(vmu_cpu& cpu) {
    if ((sfr_at(cpu, vmu_sfr("VSEL")) & 0x10) == 0) {
        return;
    }
    const unsigned next = (work_ram_address(cpu) + 1) & 0x1FF;
    sfr_at(cpu, vmu_sfr("VRMAD1")) = static_cast<std::uint8_t>(next);
    sfr_at(cpu, vmu_sfr("VRMAD2")) =
        static_cast<std::uint8_t>((sfr_at(cpu, vmu_sfr("VRMAD2")) & 0xFE) | (next >> 8));
}

}  // namespace

std::uint32_t vmu_cpu_cycle_ps(const vmu_cpu& cpu) {
    const std::uint8_t ocr = sfr_at(cpu, vmu_sfr("OCR"));
    const std::uint64_t divider = (ocr & 0x80) != 0 ? 6 : 12;
    std::uint64_t hz = 0;
    switch ((ocr >> 4) & 3) {
        case 0:
            // The RC oscillator varies from 600 to 1200 kHz between cards;
            // 876 kHz gives the usual 13.7 us per cycle at /12.
            hz = 876'000;
            break;
        case 2:
            hz = 32'768;
            break;
        default:
            hz = 6'000'000;
            break;
    }
    return static_cast<std::uint32_t>((divider * 1'000'000'000'000ULL + hz / 2) / hz);
}

std::uint8_t vmu_cpu_read(const vmu_cpu& cpu, std::uint16_t address) {
    address &= 0x1FF;
    if (address < 0x100) {
        return cpu.ram[ram_index(cpu, address)];
    }
    if (address >= 0x180) {
        return cpu.xram[xram_index(cpu, address)];
    }
    const std::uint8_t stored = sfr_at(cpu, address);
    switch (address) {
        case vmu_sfr("PSW"): {
            // Bit 0 is the parity of ACC, kept by nothing but this read.
            const auto parity =
                static_cast<std::uint8_t>(std::popcount(sfr_at(cpu, vmu_sfr("ACC"))) & 1);
            return static_cast<std::uint8_t>((stored & 0xFE) | parity);
        }
        case vmu_sfr("T0L"):
            return cpu.t0l;
        case vmu_sfr("T0H"):
            return cpu.t0h;
        case vmu_sfr("T1L"):
            return cpu.t1l;
        case vmu_sfr("T1H"):
            return cpu.t1h;
        case vmu_sfr("P1"): {
            const std::uint8_t ddr = sfr_at(cpu, vmu_sfr("P1DDR"));
            return static_cast<std::uint8_t>((stored & ddr) | (cpu.p1_pins & ~ddr));
        }
        case vmu_sfr("P3"): {
            const std::uint8_t ddr = sfr_at(cpu, vmu_sfr("P3DDR"));
            return static_cast<std::uint8_t>((stored & ddr) | (cpu.p3_pins & ~ddr));
        }
        case vmu_sfr("P7"):
            return cpu.p7_pins;
        case vmu_sfr("SBUF0"):
            return cpu.sio[0].shift;
        case vmu_sfr("SBUF1"):
            return cpu.sio[1].shift;
        case vmu_sfr("VTRBF"):
            return cpu.work_ram[work_ram_address(cpu)];
        default:
            break;
    }
    const vmu_sfr_info* info = info_of(address);
    if (info != nullptr && info->kind == write_only) {
        return 0xFF;
    }
    return stored;
}

std::uint8_t sfr_read(vmu_cpu& cpu, std::uint16_t address) {
    const vmu_sfr_info* info = info_of(address);
    if (info == nullptr || info->kind == unmodelled) {
        note_unmodelled(cpu, address);
    }
    const std::uint8_t value = vmu_cpu_read(cpu, address);
    if (address == vmu_sfr("VTRBF")) {
        work_ram_accessed(cpu);
    }
    return value;
}

void vmu_cpu_write(vmu_cpu& cpu, std::uint16_t address, std::uint8_t value) {
    address &= 0x1FF;
    data_write(cpu, address, value);
}

void sfr_write(vmu_cpu& cpu, std::uint16_t address, std::uint8_t value) {
    const vmu_sfr_info* info = info_of(address);
    if (info == nullptr || info->kind == unmodelled || asks_beyond_model(address, value)) {
        note_unmodelled(cpu, address);
    }
    if (info == nullptr || info->kind != special || !write_elsewhere(cpu, address, value)) {
        sfr_at(cpu, address) = value;
    }
    if (address == vmu_sfr("VTRBF")) {
        work_ram_accessed(cpu);
    } else if (address >= vmu_sfr("PCON") && address <= vmu_sfr("IP")) {
        static_assert(vmu_sfr("IE") == vmu_sfr("PCON") + 1 && vmu_sfr("IP") == vmu_sfr("IE") + 1);
        // A write of PCON, IE or IP takes up no interrupt after it, as
        // RETI; the other interrupt registers do not hold one off (both
        // measured on a card by the authors of an interrupt test program).
        cpu.hold_off = true;
    }
}

void cpu_fault(vmu_cpu& cpu, std::string reason) {
    if (cpu.state == vmu_cpu_state::running) {
        cpu.state = vmu_cpu_state::fault;
        cpu.fault = std::move(reason);
        cpu.fault_pc = cpu.pc;
    }
}

void vmu_cpu_reset(vmu_cpu& cpu) {
    cpu.sfr.fill(0);
    sfr_at(cpu, vmu_sfr("PSW")) = PSW_RAMBK0;  // the game's RAM bank, 1
    sfr_at(cpu, vmu_sfr("OCR")) = 0xA3;        // quartz /6, RC and ceramic stopped
    sfr_at(cpu, vmu_sfr("IE")) = 0x83;
    sfr_at(cpu, vmu_sfr("P1DDR")) = 0x80;  // the buzzer's P17 only
    sfr_at(cpu, vmu_sfr("P1FCR")) = 0xBF;
    sfr_at(cpu, vmu_sfr("P3INT")) = 0x05;  // key interrupts, continuous mode
    sfr_at(cpu, vmu_sfr("ISL")) = 0xC0;
    sfr_at(cpu, vmu_sfr("VSEL")) = 0xFC;
    sfr_at(cpu, vmu_sfr("BTCR")) = 0x41;  // running, its 0.5 s interrupt on
    sfr_at(cpu, vmu_sfr("VCCR")) = 0x80;  // the LCD on
    // The system stack starts at 0x80 in bank 0: SP at 0x7F, so that the
    // game's first call does not overwrite the @Ri pointers at 0x00-0x0F.
    sfr_at(cpu, vmu_sfr("SP")) = 0x7F;
    cpu.ram[VMU_BATTERY_CHECK] = 0x00;  // the system's low-battery check on
    cpu.pc = 0;
    cpu.cycles = 0;
    cpu.time_ps = 0;
    cpu.cycle_ps = vmu_cpu_cycle_ps(cpu);
    cpu.t0l = cpu.t0h = cpu.t1l = cpu.t1h = 0;
    cpu.t0_prescale = 0;
    cpu.t1lc = cpu.t1hc = 0;
    cpu.base_timer_ps = 0;
    base_timer_retime(cpu);
    cpu.sio = {};
    cpu.p1_pins = 0xFF;
    cpu.p3_pins = 0xFF;
    cpu.p7_pins = 0x00;
    cpu.rom_source = false;
    cpu.serving = 0;
    cpu.pending_vector = 0;
    cpu.pending_level = 0;
    cpu.hold_off = false;
    cpu.state = vmu_cpu_state::running;
    cpu.fault.clear();
    cpu.fault_pc = 0;
    cpu.unmodelled.reset();
}

bool vmu_cpu_load_game(vmu_cpu& cpu, std::span<const std::uint8_t> image) {
    if (image.size() > VMU_FLASH_SIZE) {
        return false;
    }
    cpu.flash.assign(VMU_FLASH_SIZE, 0);
    std::copy(image.begin(), image.end(), cpu.flash.begin());
    return true;
}

bool vmu_cpu_load_card(vmu_cpu& cpu, std::span<const std::uint8_t> image) {
    if (image.size() != VMU_FLASH_SIZE) {
        return false;
    }
    cpu.flash.assign(image.begin(), image.end());
    return true;
}

bool vmu_cpu_lcd_pixel(const vmu_cpu& cpu, int x, int y) {
    if (x < 0 || x >= VMU_LCD_WIDTH || y < 0 || y >= VMU_LCD_HEIGHT ||
        (sfr_at(cpu, vmu_sfr("VCCR")) & 0x80) == 0) {
        return false;
    }
    // Each bank holds 16 rows: pairs of 6-byte rows, each pair followed by
    // a 4-byte gap.
    const int row = y % 16;
    const int index = (y / 16) * 0x80 + (row / 2) * 16 + (row % 2) * 6 + x / 8;
    return ((cpu.xram[static_cast<std::size_t>(index)] >> (7 - x % 8)) & 1) != 0;
}

std::vector<std::string> vmu_cpu_notes(const vmu_cpu& cpu) {
    std::vector<std::string> lines;
    for (std::uint16_t address = 0x100; address < 0x180; ++address) {
        if (!cpu.unmodelled.test(address - 0x100)) {
            continue;
        }
        const vmu_sfr_info* info = info_of(address);
        if (info == nullptr) {
            std::array<char, 64> text{};
            std::snprintf(text.data(), text.size(), "register %03X: no register is modelled there",
                          address);
            lines.emplace_back(text.data());
        } else {
            lines.push_back(std::string(info->name) + ": " + info->warning);
        }
    }
    return lines;
}
