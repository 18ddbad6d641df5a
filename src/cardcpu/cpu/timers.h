// The units that work beside the processor (timers, serial ports, pins) and
// the choice of the interrupt to take, between the step function and the
// registers. Not for callers of the model.
#pragma once

#include <cstdint>

#include "cardcpu/cpu/cpu_internal.h"

/// Counts T0 and T1 on by `cycles` (timers.cpp).
void count_t0_t1(vmu_cpu& cpu, unsigned cycles);

/// T1CNT changes from `old_cnt` to `cnt`: a run bit rising takes the compare
/// values (timers.cpp).
void t1_started(vmu_cpu& cpu, std::uint8_t old_cnt, std::uint8_t cnt);

/// Raises the base timer's flags for the quartz counts up to
/// cpu.base_timer_ps, `since_ps` being where it stood before (timers.cpp).
void base_timer_count(vmu_cpu& cpu, std::uint64_t since_ps);

/// Works out when the base timer's next flag rises, after BTCR changed.
void base_timer_retime(vmu_cpu& cpu);

/// T1's pulse output as the compare makes it (P17's function).
bool t1_pulse(const vmu_cpu& cpu);

/// A write of SCON0 (`port` 0) or SCON1: setting bit 3 starts a transfer
/// (sio.cpp).
void sio_control(vmu_cpu& cpu, unsigned port, std::uint8_t value);

/// Clocks the serial ports that work as master on by `cycles`.
void sio_count(vmu_cpu& cpu, unsigned cycles);

/// P1's input pins changed from `before`: a slave takes its clock's edge.
void sio_pins_changed(vmu_cpu& cpu, std::uint8_t before);

/// Raises the flags of the requests that last while a level lasts: a key
/// held in P3's continuous mode while the card is in HALT, a level-triggered external interrupt
/// (ports.cpp).
void raise_level_requests(vmu_cpu& cpu);

/// Counts T0 and T1 on by `cycles` while either runs. Inline: it runs in
/// every instruction, and mostly finds nothing to do.
inline void timers_count(vmu_cpu& cpu, unsigned cycles) {
    const std::uint8_t t0cnt = sfr_at(cpu, vmu_sfr("T0CNT"));
    const std::uint8_t t1cnt = sfr_at(cpu, vmu_sfr("T1CNT"));
    if (((t0cnt | t1cnt) & 0xC0) == 0) {
        return;
    }
    // The usual cycle: T0 stopped, T1's halves counting apart, neither about
    // to overflow.
    if (cycles == 1 && (t0cnt & 0xC0) == 0 && (t1cnt & 0x20) == 0 && cpu.t1l != 0xFF &&
        cpu.t1h != 0xFF) {
        cpu.t1l = static_cast<std::uint8_t>(cpu.t1l + ((t1cnt >> 6) & 1));
        cpu.t1h = static_cast<std::uint8_t>(cpu.t1h + (t1cnt >> 7));
        return;
    }
    count_t0_t1(cpu, cycles);
}

/// Counts the base timer and the serial ports on by `cycles`, and keeps
/// level requests raised. Inline, as timers_count.
inline void units_advance(vmu_cpu& cpu, unsigned cycles) {
    if ((sfr_at(cpu, vmu_sfr("BTCR")) & 0x40) != 0) {
        const std::uint64_t since = cpu.base_timer_ps;
        cpu.base_timer_ps += static_cast<std::uint64_t>(cycles) * cpu.cycle_ps;
        if (cpu.base_timer_ps >= cpu.base_timer_next_ps) {
            base_timer_count(cpu, since);
        }
    }
    if (((sfr_at(cpu, vmu_sfr("SCON0")) | sfr_at(cpu, vmu_sfr("SCON1"))) & 0x08) != 0) {
        sio_count(cpu, cycles);
    }
    if (((sfr_at(cpu, vmu_sfr("P3INT")) & 0x04) | (sfr_at(cpu, vmu_sfr("I01CR")) & 0x44) |
         (sfr_at(cpu, vmu_sfr("I23CR")) & 0x44)) != 0) {
        raise_level_requests(cpu);
    }
}

/// The interrupt to take now: its vector, and its priority level as a bit
/// (1 low, 2 high, 4 highest); {0, 0} for none. Looks at IE's master enable
/// and at the levels being served (interrupts.cpp).
struct vmu_interrupt {
    std::uint16_t vector;
    std::uint8_t level;
};
vmu_interrupt interrupt_to_take(const vmu_cpu& cpu);

/// Whether a request that ends HOLD is raised: an external interrupt or a key.
bool hold_released(const vmu_cpu& cpu);
