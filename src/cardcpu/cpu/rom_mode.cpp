// ROM mode: the model given the card's system ROM runs it from the card's
// power-on, instead of performing the ROM's routines for a game. The ROM
// is the program source while EXT bit 0 is clear at a far jump (the ROM's
// own `not1 ext,0` and `jmpf` hand over to the flash and back); there the
// interrupts take the ROM's vectors and LDC reads the ROM. The image is
// the user's, read at run time: nothing of it is part of the model.
#include <array>
#include <cstdio>

#include "cardcpu/cpu/cpu_internal.h"
#include "cardcpu/cpu/isa.h"
#include "cardcpu/cpu/timers.h"

namespace {

// The padding after the image: an instruction at 0xFFFF reads two bytes on.
constexpr std::size_t ROM_PADDING = 2;

// How long a ROM is tried before it counts as booting: past its start-up,
// a few milliseconds on the RC clock it starts on.
constexpr std::uint64_t TRIAL_CYCLES = 200'000;

bool is_jump(std::uint8_t opcode) {
    const vmu_insn_form* row = vmu_decode(opcode);
    if (row == nullptr) {
        return false;
    }
    using enum vmu_op;
    return row->op == jmp || row->op == jmpf || row->op == br || row->op == brf;
}

}  // namespace

bool vmu_cpu_load_rom(vmu_cpu& cpu, std::span<const std::uint8_t> image) {
    if (image.size() != VMU_ROM_SIZE) {
        return false;
    }
    cpu.rom.assign(image.begin(), image.end());
    cpu.rom.resize(VMU_ROM_SIZE + ROM_PADDING, 0);
    return true;
}

void rom_power_on(vmu_cpu& cpu) {
    cpu.sfr.fill(0);
    sfr_at(cpu, vmu_sfr("SP")) = 0x7F;
    cpu.cycle_ps = vmu_cpu_cycle_ps(cpu);
    base_timer_retime(cpu);
    cpu.p7_pins = 0x02;  // the battery good, undocked, no peer
    cpu.pc = 0;
    cpu.rom_source = true;
}

std::string vmu_rom_problem(std::span<const std::uint8_t> image) {
    if (image.size() != VMU_ROM_SIZE) {
        std::array<char, 96> text{};
        std::snprintf(text.data(), text.size(), "%zu bytes, where a system ROM has %zu",
                      image.size(), VMU_ROM_SIZE);
        return text.data();
    }
    if (!is_jump(image[0])) {
        return "no jump at its reset vector (address 0): not a system ROM";
    }
    vmu_cpu trial;
    vmu_cpu_load_rom(trial, image);
    vmu_cpu_reset(trial);
    vmu_cpu_run_until(trial, TRIAL_CYCLES);
    if (trial.state == vmu_cpu_state::fault) {
        std::array<char, 160> text{};
        std::snprintf(text.data(), text.size(), "it stops in its first %llu cycles: %s at PC %04X",
                      static_cast<unsigned long long>(TRIAL_CYCLES), trial.fault.c_str(),
                      trial.fault_pc);
        return text.data();
    }
    return "";
}
