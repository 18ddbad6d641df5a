// The BIOS routines a game calls, performed by the model itself: the BIOS is
// not ours and is not shipped. A game reaches them through its stubs (`not1
// EXT,0` and `jmpf` to the same address in the ROM); the routine does its
// work on the flash and RAM bank 1, flips EXT back and returns to the flash:
// the page routines at the entry + 5, the instruction after the stub, the
// clock routine always at 0x139, where the card maker's stub has its `pop ie`
// (the routine ends `not1 ext,0` and `jmpf $0139`).
#include <algorithm>
#include <array>
#include <cstdio>

#include "cardcpu/cpu/cpu_internal.h"

namespace {

// What a routine costs in cycles. The real routines' times are not known;
// these are estimates from their work (a loop of about ten cycles per byte
// of the page), so that time passes while they run.
constexpr unsigned PAGE_ROUTINE_CYCLES = 1300;
constexpr unsigned TIMER_ROUTINE_CYCLES = 40;

// Where the page routines find their arguments, in RAM bank 1.
constexpr unsigned ARG_BANK = 256 + 0x7D;
constexpr unsigned ARG_ADDRESS_HIGH = 256 + 0x7E;
constexpr unsigned ARG_ADDRESS_LOW = 256 + 0x7F;
constexpr unsigned ARG_DATA = 256 + 0x80;

// The flash address of the page the arguments name, or -1 when they name no
// page (a bank above 1 or an address not on a page boundary).
long page_address(const vmu_cpu& cpu) {
    const unsigned bank = cpu.ram[ARG_BANK];
    const unsigned address = (unsigned{cpu.ram[ARG_ADDRESS_HIGH]} << 8) | cpu.ram[ARG_ADDRESS_LOW];
    if (bank > 1 || address % VMU_FLASH_PAGE != 0) {
        return -1;
    }
    return static_cast<long>((bank << 16) | address);
}

// The routines leave ACC with their result and TRH:TRL past the page.
void finish_page_routine(vmu_cpu& cpu, bool ok) {
    sfr_at(cpu, vmu_sfr("ACC")) = ok ? 0x00 : 0xFF;
    const unsigned end =
        ((unsigned{cpu.ram[ARG_ADDRESS_HIGH]} << 8) | cpu.ram[ARG_ADDRESS_LOW]) + VMU_FLASH_PAGE;
    sfr_at(cpu, vmu_sfr("TRL")) = static_cast<std::uint8_t>(end);
    sfr_at(cpu, vmu_sfr("TRH")) = static_cast<std::uint8_t>(end >> 8);
}

unsigned page_routine(vmu_cpu& cpu, std::uint16_t entry) {
    const long address = page_address(cpu);
    bool ok = address >= 0;
    if (ok) {
        const auto page = cpu.flash.begin() + address;
        const auto data = cpu.ram.begin() + ARG_DATA;
        switch (entry) {
            case VMU_BIOS_FM_WRT_EX:
                std::copy_n(data, VMU_FLASH_PAGE, page);
                sfr_at(cpu, vmu_sfr("B")) = 0;
                sfr_at(cpu, vmu_sfr("C")) = 0;
                break;
            case VMU_BIOS_FM_VRF_EX:
                ok = std::equal(data, data + VMU_FLASH_PAGE, page);
                break;
            default:
                std::copy_n(page, VMU_FLASH_PAGE, data);
                break;
        }
    }
    finish_page_routine(cpu, ok);
    return PAGE_ROUTINE_CYCLES;
}

}  // namespace

unsigned bios_call(vmu_cpu& cpu) {
    const std::uint16_t entry = cpu.pc;
    unsigned cycles = 0;
    switch (entry) {
        case VMU_BIOS_FM_WRT_EX:
        case VMU_BIOS_FM_VRF_EX:
        case VMU_BIOS_FM_PRD_EX:
            cycles = page_routine(cpu, entry);
            break;
        case VMU_BIOS_TIMER_EX:
            // The game forwards the base timer's interrupt: its flags clear.
            sfr_at(cpu, vmu_sfr("BTCR")) &= static_cast<std::uint8_t>(~0x0A);
            cycles = TIMER_ROUTINE_CYCLES;
            break;
        case VMU_BIOS_GAME_END:
            cpu.state = vmu_cpu_state::ended;
            return 0;
        default: {
            std::array<char, 80> reason{};
            std::snprintf(reason.data(), reason.size(),
                          "the program entered the BIOS at %04X, where the model has no routine",
                          entry);
            cpu_fault(cpu, reason.data());
            return 0;
        }
    }
    sfr_at(cpu, vmu_sfr("EXT")) ^= 1;
    cpu.rom_source = false;
    cpu.pc = entry == VMU_BIOS_TIMER_EX ? std::uint16_t{VMU_BIOS_TIMER_RETURN}
                                        : static_cast<std::uint16_t>(entry + 5);
    return cycles;
}
