// The special function registers: what each address is called, how a read
// and a write of it behave, and what the program is told when it uses one
// beyond what the model does. Also the start state, loading the flash, the
// clocks and the LCD picture, all of which are register matters.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <string>
#include <utility>

#include "cardcpu/cpu/cpu_internal.h"

namespace {

enum class sfr_kind : std::uint8_t {
    plain,       // stored and read back
    write_only,  // stored, reads as 0xFF
    unmodelled,  // any use is reported
    special,     // handled by name below
};

struct sfr_info {
    std::uint16_t address;
    const char* name;
    sfr_kind kind;
    const char* warning;  // what the model does not do with it
};

using enum sfr_kind;

constexpr sfr_info sfr_infos[] = {
    {VMU_ACC, "ACC", plain, nullptr},
    {VMU_PSW, "PSW", special, nullptr},
    {VMU_B, "B", plain, nullptr},
    {VMU_C, "C", plain, nullptr},
    {VMU_TRL, "TRL", plain, nullptr},
    {VMU_TRH, "TRH", plain, nullptr},
    {VMU_SP, "SP", plain, nullptr},
    {VMU_PCON, "PCON", special, "HOLD mode (bit 1) is not modelled"},
    {VMU_IE, "IE", plain, nullptr},
    {VMU_IP, "IP", special, "interrupt priorities are not modelled: no interrupt nests"},
    {VMU_EXT, "EXT", plain, nullptr},
    {VMU_OCR, "OCR", special, nullptr},
    {VMU_T0CNT, "T0CNT", special, "T0's external clock input (bit 4) is not modelled"},
    {VMU_T0PRR, "T0PRR", plain, nullptr},
    {VMU_T0L, "T0L", special, nullptr},
    {VMU_T0LR, "T0LR", plain, nullptr},
    {VMU_T0H, "T0H", special, nullptr},
    {VMU_T0HR, "T0HR", plain, nullptr},
    {VMU_T1CNT, "T1CNT", special, "T1's compare reload (bit 4) is not modelled"},
    {VMU_T1LC, "T1LC", special, "T1's compare output is not modelled"},
    {VMU_T1L, "T1L", special, nullptr},
    {VMU_T1HC, "T1HC", special, "T1's compare output is not modelled"},
    {VMU_T1H, "T1H", special, nullptr},
    {VMU_MCR, "MCR", write_only, nullptr},
    {VMU_STAD, "STAD", special, "a display start address other than 0 is not modelled"},
    {VMU_CNR, "CNR", write_only, nullptr},
    {VMU_TDR, "TDR", write_only, nullptr},
    {VMU_XBNK, "XBNK", special, "XBNK above 2 is not modelled (bank 2 is used)"},
    {VMU_VCCR, "VCCR", write_only, nullptr},
    {0x130, "SCON0", unmodelled, "serial port 0 is not modelled"},
    {0x131, "SBUF0", unmodelled, "serial port 0 is not modelled"},
    {0x132, "SBR", unmodelled, "the serial baud rate is not modelled"},
    {0x134, "SCON1", unmodelled, "serial port 1 is not modelled"},
    {0x135, "SBUF1", unmodelled, "serial port 1 is not modelled"},
    {VMU_P1, "P1", special, nullptr},
    {VMU_P1DDR, "P1DDR", write_only, nullptr},
    {VMU_P1FCR, "P1FCR", special, "P1's pin functions are not modelled: all are port pins"},
    {VMU_P3, "P3", special, nullptr},
    {VMU_P3DDR, "P3DDR", write_only, nullptr},
    {VMU_P3INT, "P3INT", special, "P3's interrupt modes beyond bits 1-0 are not modelled"},
    {VMU_FPR, "FPR", special, "STF ran with flash writes locked (bit 1 clear): nothing written"},
    {VMU_P7, "P7", special, "P7 is input only: the write was dropped"},
    {VMU_I01CR, "I01CR", special, "external interrupts INT0 and INT1 are not modelled"},
    {VMU_I23CR, "I23CR", special, "external interrupts INT2 and INT3 are not modelled"},
    {VMU_ISL, "ISL", special, "input signal selection other than 0xC0 is not modelled"},
    {VMU_VSEL, "VSEL", special, "the Maple interface is not modelled"},
    {0x164, "VRMAD1", unmodelled, "the Maple interface is not modelled"},
    {0x165, "VRMAD2", unmodelled, "the Maple interface is not modelled"},
    {0x166, "VTRBF", unmodelled, "the Maple interface is not modelled"},
    {0x167, "VLREG", unmodelled, "the Maple interface is not modelled"},
    {VMU_BTCR, "BTCR", special, "base timer modes beyond bits 6, 1 and 0 are not modelled"},
};

struct sfr_table {
    std::array<const sfr_info*, 0x80> info{};
};

const sfr_table& table() {
    static const sfr_table built = [] {
        sfr_table t;
        for (const sfr_info& row : sfr_infos) {
            t.info[row.address - 0x100] = &row;
        }
        return t;
    }();
    return built;
}

const sfr_info* info_of(std::uint16_t address) {
    return table().info[address - 0x100];
}

// A timer's run bits rising load its counters from the reloads.
void start_timers(std::uint8_t old_cnt, std::uint8_t cnt, std::uint8_t& low, std::uint8_t& high,
                  std::uint8_t low_reload, std::uint8_t high_reload) {
    const auto rising = static_cast<std::uint8_t>(cnt & ~old_cnt);
    if ((rising & 0x40) != 0) {
        low = low_reload;
    }
    // The 16-bit counter (bit 5) runs on the low half's bit and starts whole.
    if ((rising & 0x80) != 0 || ((rising & 0x40) != 0 && (cnt & 0x20) != 0)) {
        high = high_reload;
    }
}

void write_ocr(vmu_cpu& cpu, std::uint8_t value) {
    sfr_at(cpu, VMU_OCR) = value;
    const unsigned source = (value >> 4) & 3;
    // bit 1 stops the RC oscillator, bit 0 the ceramic one.
    if ((source == 0 && (value & 0x02) != 0) || ((source & 1) != 0 && (value & 0x01) != 0)) {
        cpu_fault(cpu, "OCR stopped the clock the processor runs on");
    }
    cpu.cycle_ps = vmu_cpu_cycle_ps(cpu);
}

}  // namespace

std::uint32_t vmu_cpu_cycle_ps(const vmu_cpu& cpu) {
    const std::uint8_t ocr = sfr_at(cpu, VMU_OCR);
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
        case VMU_PSW: {
            // Bit 0 is the parity of ACC, kept by nothing but this read.
            const auto parity = static_cast<std::uint8_t>(std::popcount(sfr_at(cpu, VMU_ACC)) & 1);
            return static_cast<std::uint8_t>((stored & 0xFE) | parity);
        }
        case VMU_T0L:
            return cpu.t0l;
        case VMU_T0H:
            return cpu.t0h;
        case VMU_T1L:
            return cpu.t1l;
        case VMU_T1H:
            return cpu.t1h;
        case VMU_P1: {
            const std::uint8_t ddr = sfr_at(cpu, VMU_P1DDR);
            return static_cast<std::uint8_t>((stored & ddr) | (cpu.p1_pins & ~ddr));
        }
        case VMU_P3: {
            const std::uint8_t ddr = sfr_at(cpu, VMU_P3DDR);
            return static_cast<std::uint8_t>((stored & ddr) | (cpu.p3_pins & ~ddr));
        }
        case VMU_P7:
            return cpu.p7_pins;
        default:
            break;
    }
    const sfr_info* info = info_of(address);
    if (info != nullptr && info->kind == write_only) {
        return 0xFF;
    }
    return stored;
}

std::uint8_t sfr_read(vmu_cpu& cpu, std::uint16_t address) {
    const sfr_info* info = info_of(address);
    if (info == nullptr || info->kind == unmodelled) {
        note_unmodelled(cpu, address);
    }
    return vmu_cpu_read(cpu, address);
}

void vmu_cpu_write(vmu_cpu& cpu, std::uint16_t address, std::uint8_t value) {
    address &= 0x1FF;
    data_write(cpu, address, value);
}

void sfr_write(vmu_cpu& cpu, std::uint16_t address, std::uint8_t value) {
    const sfr_info* info = info_of(address);
    std::uint8_t& stored = sfr_at(cpu, address);
    if (info == nullptr || info->kind == unmodelled) {
        note_unmodelled(cpu, address);
        stored = value;
        return;
    }
    bool unsupported = false;
    switch (address) {
        case VMU_PCON:
            unsupported = (value & 0x02) != 0;
            break;
        case VMU_IP:
        case VMU_STAD:
        case VMU_I01CR:
        case VMU_I23CR:
            unsupported = value != 0;
            break;
        case VMU_OCR:
            write_ocr(cpu, value);
            return;
        case VMU_T0CNT:
            unsupported = (value & 0x10) != 0;
            start_timers(stored, value, cpu.t0l, cpu.t0h, sfr_at(cpu, VMU_T0LR),
                         sfr_at(cpu, VMU_T0HR));
            break;
        case VMU_T1CNT:
            unsupported = (value & 0x10) != 0;
            start_timers(stored, value, cpu.t1l, cpu.t1h, sfr_at(cpu, VMU_T1L),
                         sfr_at(cpu, VMU_T1H));
            break;
        case VMU_T0L:
            cpu.t0l = value;  // T0's counters are set directly; T0LR and T0HR reload
            return;
        case VMU_T0H:
            cpu.t0h = value;
            return;
        case VMU_T1LC:
        case VMU_T1HC:
            unsupported = true;
            break;
        case VMU_XBNK:
            unsupported = value > 2;
            break;
        case VMU_P1FCR:
            unsupported = value != 0xBF;
            break;
        case VMU_P3INT:
            unsupported = (value & 0xFC) != 0xFC;
            break;
        case VMU_P7:
            note_unmodelled(cpu, address);
            return;
        case VMU_ISL:
            unsupported = value != 0xC0;
            break;
        case VMU_VSEL:
            unsupported = value != 0xFC;
            break;
        case VMU_BTCR:
            unsupported = (value & 0xBC) != 0;
            break;
        default:
            break;
    }
    if (unsupported) {
        note_unmodelled(cpu, address);
    }
    stored = value;
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
    sfr_at(cpu, VMU_P1FCR) = 0xBF;
    sfr_at(cpu, VMU_P3INT) = 0xFD;
    sfr_at(cpu, VMU_ISL) = 0xC0;
    sfr_at(cpu, VMU_VSEL) = 0xFC;
    sfr_at(cpu, VMU_BTCR) = 0x41;
    sfr_at(cpu, VMU_VCCR) = 0x80;  // the LCD on
    // The system stack starts at 0x80 in bank 0: SP at 0x7F, so that the
    // game's first call does not overwrite the @Ri pointers at 0x00-0x0F.
    sfr_at(cpu, VMU_SP) = 0x7F;
    cpu.pc = 0;
    cpu.cycles = 0;
    cpu.time_ps = 0;
    cpu.cycle_ps = vmu_cpu_cycle_ps(cpu);
    cpu.t0l = cpu.t0h = cpu.t1l = cpu.t1h = 0;
    cpu.t0_prescale = 0;
    cpu.t1_prescale = 0;
    cpu.base_timer_ps = 0;
    cpu.p1_pins = 0xFF;
    cpu.p3_pins = 0xFF;
    cpu.p7_pins = 0x00;
    cpu.rom_source = false;
    cpu.in_interrupt = false;
    cpu.after_reti = false;
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

void vmu_cpu_set_buttons(vmu_cpu& cpu, std::uint8_t pressed) {
    const auto pins = static_cast<std::uint8_t>(~pressed);
    if ((cpu.p3_pins & ~pins) != 0) {
        sfr_at(cpu, VMU_P3INT) |= 0x02;
    }
    cpu.p3_pins = pins;
}

bool vmu_cpu_lcd_pixel(const vmu_cpu& cpu, int x, int y) {
    if (x < 0 || x >= VMU_LCD_WIDTH || y < 0 || y >= VMU_LCD_HEIGHT ||
        (sfr_at(cpu, VMU_VCCR) & 0x80) == 0) {
        return false;
    }
    // Each bank holds 16 rows: pairs of 6-byte rows, each pair followed by
    // a 4-byte gap.
    const int row = y % 16;
    const int index = (y / 16) * 0x80 + (row / 2) * 16 + (row % 2) * 6 + x / 8;
    return ((cpu.xram[static_cast<std::size_t>(index)] >> (7 - x % 8)) & 1) != 0;
}

std::vector<std::string> vmu_cpu_warnings(const vmu_cpu& cpu) {
    std::vector<std::string> lines;
    for (std::uint16_t address = 0x100; address < 0x180; ++address) {
        if (!cpu.unmodelled.test(address - 0x100)) {
            continue;
        }
        const sfr_info* info = info_of(address);
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
