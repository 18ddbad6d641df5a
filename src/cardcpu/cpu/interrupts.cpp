// The choice of the interrupt to take. Each source raises a flag beside its
// enable bit; a raised and enabled source is a request, served at its vector
// when IE bit 7 allows interrupts and no interrupt of its level or above is
// being served.
//
// Levels (the manual's interrupt chapter): INT0 and INT1 are at the highest
// level while IE bit 0 or 1 says so; each other source is high where its IP
// bit is set and low otherwise. A request of a higher level interrupts the
// handler of a lower one; requests of one level are taken in the order of
// their vectors.
#include "cardcpu/cpu/timers.h"

namespace {

constexpr std::uint8_t LEVEL_LOW = 1;
constexpr std::uint8_t LEVEL_HIGH = 2;
constexpr std::uint8_t LEVEL_HIGHEST = 4;

// A flag and its enable bit, one place to the right.
bool raised(std::uint8_t control, std::uint8_t flag) {
    return (control & flag) != 0 && (control & (flag >> 1)) != 0;
}

struct source_state {
    std::uint16_t vector;
    bool requested;
    std::uint8_t level;
};

}  // namespace

vmu_interrupt interrupt_to_take(const vmu_cpu& cpu) {
    const std::uint8_t ie = sfr_at(cpu, vmu_sfr("IE"));
    if ((ie & 0x80) == 0 || cpu.rom_source) {
        return {0, 0};
    }
    const std::uint8_t ip = sfr_at(cpu, vmu_sfr("IP"));
    const std::uint8_t i01cr = sfr_at(cpu, vmu_sfr("I01CR"));
    const std::uint8_t i23cr = sfr_at(cpu, vmu_sfr("I23CR"));
    const std::uint8_t t0cnt = sfr_at(cpu, vmu_sfr("T0CNT"));
    const std::uint8_t t1cnt = sfr_at(cpu, vmu_sfr("T1CNT"));
    const std::uint8_t btcr = sfr_at(cpu, vmu_sfr("BTCR"));
    auto level = [&](unsigned ip_bit) {
        return (ip & (1U << ip_bit)) != 0 ? LEVEL_HIGH : LEVEL_LOW;
    };
    const source_state sources[] = {
        {0x03, raised(i01cr, 0x02), (ie & 0x01) != 0 ? LEVEL_HIGHEST : LEVEL_LOW},
        {0x0B, raised(i01cr, 0x20), (ie & 0x02) != 0 ? LEVEL_HIGHEST : LEVEL_LOW},
        {0x13, raised(i23cr, 0x02) || raised(t0cnt, 0x02), level(0)},
        {0x1B, raised(i23cr, 0x20) || raised(btcr, 0x02) || raised(btcr, 0x08), level(1)},
        {0x23, raised(t0cnt, 0x08), level(2)},
        {0x2B, raised(t1cnt, 0x02) || raised(t1cnt, 0x08), level(3)},
        {0x33, raised(sfr_at(cpu, vmu_sfr("SCON0")), 0x02), level(4)},
        {0x3B, raised(sfr_at(cpu, vmu_sfr("SCON1")), 0x02), level(5)},
        {0x4B, raised(sfr_at(cpu, vmu_sfr("P3INT")), 0x02), level(7)},
    };
    vmu_interrupt chosen{0, 0};
    for (const source_state& s : sources) {
        // Taken only above every level being served, and above the one chosen.
        if (s.requested && s.level > cpu.serving && s.level > chosen.level) {
            chosen = {s.vector, s.level};
        }
    }
    return chosen;
}

bool hold_released(const vmu_cpu& cpu) {
    const std::uint8_t i01cr = sfr_at(cpu, vmu_sfr("I01CR"));
    const std::uint8_t i23cr = sfr_at(cpu, vmu_sfr("I23CR"));
    return raised(i01cr, 0x02) || raised(i01cr, 0x20) || raised(i23cr, 0x02) ||
           raised(i23cr, 0x20) || raised(sfr_at(cpu, vmu_sfr("P3INT")), 0x02);
}
