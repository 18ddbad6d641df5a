// Time: the timers T0 and T1 and the base timer counting with the clock.
//
// T0 counts once every 256 - T0PRR cycles, T1 once every cycle, each half
// as an 8-bit counter or, with bit 5 of its control register, both halves as
// one 16-bit counter. A counter that overflows reloads and raises its flag
// (bit 1 for the low half, bit 3 for the high half or the 16-bit counter);
// with the flag's enable bit (0 or 2) the interrupt is due.
//
// T1 also compares (the manual's timer 1 chapter): its pulse output, P17's
// function, is low from a reload until the counter reaches the compare value
// (T1LC, or T1HC:T1LC for the 16-bit counter) and high from there to the
// overflow. A written compare value takes effect when T1 starts and, while
// T1CNT bit 4 (ELDT1C) is set, at every reload.
//
// The base timer counts the 32.768 kHz quartz, which runs whatever clock the
// processor uses, while BTCR bit 6 runs it. Its interrupt 0 flag (bit 1)
// rises every 16384 counts (0.5 s), or every 64 with BTCR bit 7; its
// interrupt 1 flag (bit 3) every 32, 128, 512 or 2048 counts as BTCR bits
// 5-4 choose. Bits 0 and 2 enable the two; both share the vector 0x1B.
#include <algorithm>

#include "cardcpu/cpu/timers.h"

namespace {

// Counts `counter` up by `ticks`; every overflow starts it again from
// `reload`. True when it overflowed.
template <typename T>
bool count_up(T& counter, unsigned ticks, unsigned reload, unsigned top) {
    unsigned value = counter + ticks;
    bool overflowed = false;
    while (value > top) {
        value = value - (top + 1) + reload;
        overflowed = true;
    }
    counter = static_cast<T>(value);
    return overflowed;
}

// What overflowed in one count of a timer.
struct overflows {
    bool low = false;
    bool high = false;
};

// `ticks` counts of a timer: its control register, counters and reloads.
overflows count_timer(std::uint8_t& control, std::uint8_t& low, std::uint8_t& high,
                      std::uint8_t low_reload, std::uint8_t high_reload, unsigned ticks) {
    overflows happened;
    if ((control & 0x20) != 0) {
        if ((control & 0x40) == 0) {
            return happened;
        }
        auto both = static_cast<std::uint16_t>((high << 8) | low);
        if (count_up(both, ticks, (unsigned{high_reload} << 8) | low_reload, 0xFFFF)) {
            control |= 0x08;
            happened.high = happened.low = true;
        }
        low = static_cast<std::uint8_t>(both);
        high = static_cast<std::uint8_t>(both >> 8);
        return happened;
    }
    if ((control & 0x40) != 0 && count_up(low, ticks, low_reload, 0xFF)) {
        control |= 0x02;
        happened.low = true;
    }
    if ((control & 0x80) != 0 && count_up(high, ticks, high_reload, 0xFF)) {
        control |= 0x08;
        happened.high = true;
    }
    return happened;
}

// The quartz: 32768 counts a second, one every 10^12 / 32768 ps, which is
// QUARTZ_PS_X8 / 8 exactly.
constexpr std::uint64_t QUARTZ_PS_X8 = 244'140'625;

std::uint64_t quartz_counts(std::uint64_t ps) {
    return ps / QUARTZ_PS_X8 * 8 + ps % QUARTZ_PS_X8 * 8 / QUARTZ_PS_X8;
}

// The time at which the quartz reaches `counts`, rounded up.
std::uint64_t quartz_time(std::uint64_t counts) {
    return counts / 8 * QUARTZ_PS_X8 + (counts % 8 * QUARTZ_PS_X8 + 7) / 8;
}

std::uint64_t interrupt0_period(std::uint8_t btcr) {
    return (btcr & 0x80) != 0 ? 64 : 16384;
}

std::uint64_t interrupt1_period(std::uint8_t btcr) {
    return std::uint64_t{32} << (2 * ((btcr >> 4) & 3));
}

// The first count after `counts` that is a multiple of `period`.
std::uint64_t next_multiple(std::uint64_t counts, std::uint64_t period) {
    return (counts / period + 1) * period;
}

}  // namespace

void count_t0_t1(vmu_cpu& cpu, unsigned cycles) {
    std::uint8_t& t0cnt = sfr_at(cpu, vmu_sfr("T0CNT"));
    if ((t0cnt & 0xC0) != 0) {
        const unsigned period = 256U - sfr_at(cpu, vmu_sfr("T0PRR"));
        unsigned prescale = cpu.t0_prescale + cycles;
        unsigned ticks = 0;
        while (prescale >= period) {
            prescale -= period;
            ++ticks;
        }
        cpu.t0_prescale = static_cast<std::uint16_t>(prescale);
        if (ticks != 0) {
            count_timer(t0cnt, cpu.t0l, cpu.t0h, sfr_at(cpu, vmu_sfr("T0LR")),
                        sfr_at(cpu, vmu_sfr("T0HR")), ticks);
        }
    }
    std::uint8_t& t1cnt = sfr_at(cpu, vmu_sfr("T1CNT"));
    if ((t1cnt & 0xC0) != 0) {
        const overflows happened =
            count_timer(t1cnt, cpu.t1l, cpu.t1h, sfr_at(cpu, vmu_sfr("T1LR")),
                        sfr_at(cpu, vmu_sfr("T1HR")), cycles);
        if ((t1cnt & 0x10) != 0) {
            if (happened.low) {
                cpu.t1lc = sfr_at(cpu, vmu_sfr("T1LC"));
            }
            if (happened.high) {
                cpu.t1hc = sfr_at(cpu, vmu_sfr("T1HC"));
            }
        }
    }
}

void t1_started(vmu_cpu& cpu, std::uint8_t old_cnt, std::uint8_t cnt) {
    const auto rising = static_cast<std::uint8_t>(cnt & ~old_cnt);
    if ((rising & 0x40) != 0) {
        cpu.t1lc = sfr_at(cpu, vmu_sfr("T1LC"));
    }
    if ((rising & 0x80) != 0 || ((rising & 0x40) != 0 && (cnt & 0x20) != 0)) {
        cpu.t1hc = sfr_at(cpu, vmu_sfr("T1HC"));
    }
}

bool t1_pulse(const vmu_cpu& cpu) {
    const std::uint8_t t1cnt = sfr_at(cpu, vmu_sfr("T1CNT"));
    if ((t1cnt & 0x40) == 0) {
        return false;
    }
    if ((t1cnt & 0x20) != 0) {
        return ((cpu.t1h << 8) | cpu.t1l) >= ((cpu.t1hc << 8) | cpu.t1lc);
    }
    return cpu.t1l >= cpu.t1lc;
}

void base_timer_count(vmu_cpu& cpu, std::uint64_t since_ps) {
    std::uint8_t& btcr = sfr_at(cpu, vmu_sfr("BTCR"));
    const std::uint64_t before = quartz_counts(since_ps);
    const std::uint64_t now = quartz_counts(cpu.base_timer_ps);
    if (now / interrupt0_period(btcr) != before / interrupt0_period(btcr)) {
        btcr |= 0x02;
    }
    if (now / interrupt1_period(btcr) != before / interrupt1_period(btcr)) {
        btcr |= 0x08;
    }
    base_timer_retime(cpu);
}

void base_timer_retime(vmu_cpu& cpu) {
    const std::uint8_t btcr = sfr_at(cpu, vmu_sfr("BTCR"));
    const std::uint64_t now = quartz_counts(cpu.base_timer_ps);
    cpu.base_timer_next_ps = quartz_time(std::min(next_multiple(now, interrupt0_period(btcr)),
                                                  next_multiple(now, interrupt1_period(btcr))));
}
