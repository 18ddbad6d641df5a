// What the model's own files share: the fast paths of the data space, the
// PSW bits (by their names in sfr.h) and the hooks between the step
// function, the registers and the BIOS routines. Not for callers of the
// model.
#pragma once

#include <cstdint>

#include "cardcpu/cpu/cpu.h"

inline constexpr std::uint8_t PSW_CY = vmu_sfr_bit_mask("CY");
inline constexpr std::uint8_t PSW_AC = vmu_sfr_bit_mask("AC");
inline constexpr std::uint8_t PSW_IRBK = vmu_sfr_bit_mask("IRBK1") | vmu_sfr_bit_mask("IRBK0");
inline constexpr std::uint8_t PSW_OV = vmu_sfr_bit_mask("OV");
inline constexpr std::uint8_t PSW_RAMBK0 = vmu_sfr_bit_mask("RAMBK0");

/// A register's storage in the record.
inline std::uint8_t& sfr_at(vmu_cpu& cpu, std::uint16_t address) {
    return cpu.sfr[address - 0x100];
}
inline std::uint8_t sfr_at(const vmu_cpu& cpu, std::uint16_t address) {
    return cpu.sfr[address - 0x100];
}

/// Where an address below 0x100 lies in `ram`: the bank PSW bit 1 selects.
inline unsigned ram_index(const vmu_cpu& cpu, unsigned address) {
    return ((sfr_at(cpu, vmu_sfr("PSW")) & PSW_RAMBK0) << 7) | address;
}

/// Where an address from 0x180 lies in `xram`; XBNK above 2 reads bank 2.
inline unsigned xram_index(const vmu_cpu& cpu, unsigned address) {
    const unsigned bank = sfr_at(cpu, vmu_sfr("XBNK")) > 2 ? 2U : sfr_at(cpu, vmu_sfr("XBNK"));
    return bank * 0x80 + (address - 0x180);
}

/// Reads and writes of 0x100-0x17F (registers.cpp). The instruction's read
/// marks registers the model does not give their meaning.
std::uint8_t sfr_read(vmu_cpu& cpu, std::uint16_t address);
void sfr_write(vmu_cpu& cpu, std::uint16_t address, std::uint8_t value);

/// An instruction's plain read of the data space.
inline std::uint8_t data_read(vmu_cpu& cpu, std::uint16_t address) {
    if (address < 0x100) {
        return cpu.ram[ram_index(cpu, address)];
    }
    if (address >= 0x180) {
        return cpu.xram[xram_index(cpu, address)];
    }
    return sfr_read(cpu, address);
}

/// The read of a read-modify-write instruction: P1 and P3 give their latch.
inline std::uint8_t data_read_latch(vmu_cpu& cpu, std::uint16_t address) {
    if (address == vmu_sfr("P1") || address == vmu_sfr("P3")) {
        return sfr_at(cpu, address);
    }
    return data_read(cpu, address);
}

inline void data_write(vmu_cpu& cpu, std::uint16_t address, std::uint8_t value) {
    if (address < 0x100) {
        cpu.ram[ram_index(cpu, address)] = value;
    } else if (address >= 0x180) {
        cpu.xram[xram_index(cpu, address)] = value;
    } else {
        sfr_write(cpu, address, value);
    }
}

/// Records a register the program used beyond the model.
inline void note_unmodelled(vmu_cpu& cpu, std::uint16_t address) {
    cpu.unmodelled.set(address - 0x100);
}

/// Stops the run in fault at the current PC.
void cpu_fault(vmu_cpu& cpu, std::string reason);

/// Performs the BIOS routine at cpu.pc in the ROM (bios.cpp). Returns the
/// cycles it took.
unsigned bios_call(vmu_cpu& cpu);

/// Whether the model runs the system ROM rather than performing its
/// routines itself.
inline bool rom_mode(const vmu_cpu& cpu) {
    return !cpu.rom.empty();
}

/// The card's power-on with a ROM loaded (rom_mode.cpp): the part of
/// vmu_cpu_reset that differs from handing a game over.
void rom_power_on(vmu_cpu& cpu);

/// LDF and STF on the flash chip (flash.cpp): a read at a 17-bit address,
/// which gives the chip's status while it programs a page, and a write,
/// which the chip takes as a command, a byte of a page, or not at all.
std::uint8_t flash_read(vmu_cpu& cpu, std::uint32_t address);
void flash_write(vmu_cpu& cpu, std::uint32_t address, std::uint8_t value);

/// Pushes a byte on the system stack (RAM bank 0 from SP + 1).
inline void stack_push(vmu_cpu& cpu, std::uint8_t value) {
    std::uint8_t& sp = sfr_at(cpu, vmu_sfr("SP"));
    ++sp;
    cpu.ram[sp] = value;
}
inline std::uint8_t stack_pop(vmu_cpu& cpu) {
    std::uint8_t& sp = sfr_at(cpu, vmu_sfr("SP"));
    const std::uint8_t value = cpu.ram[sp];
    --sp;
    return value;
}
