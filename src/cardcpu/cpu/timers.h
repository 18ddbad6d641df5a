// The timers and the interrupt sources, between the step function and the
// registers. Not for callers of the model.
#pragma once

#include <cstdint>

#include "cardcpu/cpu/cpu_internal.h"

inline constexpr std::uint64_t BASE_TIMER_PERIOD_PS = 500'000'000'000ULL;

/// Counts T0 and T1 on by `cycles` (timers.cpp).
void count_t0_t1(vmu_cpu& cpu, unsigned cycles);

/// Counts T0, T1 and the base timer on by `cycles`. Inline: it runs after
/// every instruction, and mostly finds nothing to do.
inline void timers_advance(vmu_cpu& cpu, unsigned cycles) {
    if (((sfr_at(cpu, vmu_sfr("T0CNT")) | sfr_at(cpu, vmu_sfr("T1CNT"))) & 0xC0) != 0) {
        count_t0_t1(cpu, cycles);
    }
    std::uint8_t& btcr = sfr_at(cpu, vmu_sfr("BTCR"));
    if ((btcr & 0x40) != 0) {
        cpu.base_timer_ps += static_cast<std::uint64_t>(cycles) * cpu.cycle_ps;
        if (cpu.base_timer_ps >= BASE_TIMER_PERIOD_PS) {
            cpu.base_timer_ps -= BASE_TIMER_PERIOD_PS;
            btcr |= 0x02;
        }
    }
}

/// The vector of the interrupt due now, highest priority first; 0 for none.
/// Does not look at IE or at an interrupt being served.
std::uint16_t interrupt_due(const vmu_cpu& cpu);
