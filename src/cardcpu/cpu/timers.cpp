// Time: the clock advancing by the cycles an instruction took, the timers T0,
// T1 and the base timer counting with it, and the choice of the interrupt to
// take next.
//
// T0 counts once every 256 - T0PRR cycles, T1 once every 2 cycles, each half
// as an 8-bit counter or, with bit 5 of its control register, both halves as
// one 16-bit counter. A counter that overflows reloads and raises its flag
// (bit 1 for the low half, bit 3 for the high half or the 16-bit counter);
// with the flag's enable bit (0 or 2) the interrupt is due. The base timer
// raises BTCR bit 1 every 0.5 s of the card's time while bit 6 runs it.
#include "cardcpu/cpu/timers.h"

#include "cardcpu/cpu/cpu_internal.h"

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

// `ticks` counts of a timer: its control register, counters and reloads.
void count_timer(std::uint8_t& control, std::uint8_t& low, std::uint8_t& high,
                 std::uint8_t low_reload, std::uint8_t high_reload, unsigned ticks) {
    if ((control & 0x20) != 0) {
        if ((control & 0x40) == 0) {
            return;
        }
        auto both = static_cast<std::uint16_t>((high << 8) | low);
        if (count_up(both, ticks, (unsigned{high_reload} << 8) | low_reload, 0xFFFF)) {
            control |= 0x08;
        }
        low = static_cast<std::uint8_t>(both);
        high = static_cast<std::uint8_t>(both >> 8);
        return;
    }
    if ((control & 0x40) != 0 && count_up(low, ticks, low_reload, 0xFF)) {
        control |= 0x02;
    }
    if ((control & 0x80) != 0 && count_up(high, ticks, high_reload, 0xFF)) {
        control |= 0x08;
    }
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
        const unsigned prescale = cpu.t1_prescale + cycles;
        cpu.t1_prescale = static_cast<std::uint8_t>(prescale & 1);
        if (prescale >= 2) {
            count_timer(t1cnt, cpu.t1l, cpu.t1h, sfr_at(cpu, vmu_sfr("T1LR")),
                        sfr_at(cpu, vmu_sfr("T1HR")), prescale >> 1);
        }
    }
}

std::uint16_t interrupt_due(const vmu_cpu& cpu) {
    const std::uint8_t t0cnt = sfr_at(cpu, vmu_sfr("T0CNT"));
    const std::uint8_t t1cnt = sfr_at(cpu, vmu_sfr("T1CNT"));
    const std::uint8_t btcr = sfr_at(cpu, vmu_sfr("BTCR"));
    const std::uint8_t p3int = sfr_at(cpu, vmu_sfr("P3INT"));
    // A flag and its enable bit, one place to the right.
    auto raised = [](std::uint8_t control, std::uint8_t flag) {
        return (control & flag) != 0 && (control & (flag >> 1)) != 0;
    };
    if (raised(t0cnt, 0x02)) {
        return 0x13;
    }
    if (raised(btcr, 0x02)) {
        return 0x1B;
    }
    if (raised(t0cnt, 0x08)) {
        return 0x23;
    }
    if (raised(t1cnt, 0x02) || raised(t1cnt, 0x08)) {
        return 0x2B;
    }
    if (raised(p3int, 0x02)) {
        return 0x4B;
    }
    return 0;
}
