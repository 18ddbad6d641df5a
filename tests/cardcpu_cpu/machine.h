// A processor model with a few bytes of code at flash 0, for the tests that
// run single instructions.
#pragma once

#include <cstdint>
#include <vector>

#include "cardcpu/cpu/cpu.h"

struct machine {
    vmu_cpu cpu;
    explicit machine(const std::vector<std::uint8_t>& code, std::uint16_t at = 0) {
        vmu_cpu_reset(cpu);
        std::vector<std::uint8_t> image(at + code.size());
        std::copy(code.begin(), code.end(), image.begin() + at);
        vmu_cpu_load_game(cpu, image);
        cpu.pc = at;
    }
    std::uint8_t read(std::uint16_t address) const { return vmu_cpu_read(cpu, address); }
    void write(std::uint16_t address, std::uint8_t value) { vmu_cpu_write(cpu, address, value); }
    unsigned step() { return vmu_cpu_step(cpu); }
};
