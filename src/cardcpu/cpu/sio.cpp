// The serial ports SIO0 and SIO1 (the manual's serial interface chapter).
// SIO0 has SO0, SI0 and SCK0 on P10-P12, SIO1 has SO1, SI1 and SCK1 on
// P13-P15. SCONn bit 3 set starts a transfer of eight bits: at each falling
// edge of SCK the port puts its next bit out on SO, at each rising edge it
// shifts SI in, most significant bit first while SCONn bit 2 is set and
// least significant first otherwise; SBUFn is the shift register. After the
// eighth rising edge bit 3 clears and the end flag, bit 1, rises: with bit 0
// it is the port's interrupt (0x33, 0x3B).
//
// A port whose SCK pin is an output (P1DDR) is master: it drives SCK from
// its own clock, each level 256 - SBR cycles (SBR 0 counts as 256), SCK
// idle high. Otherwise it is slave and follows the edges of the SCK pin, as
// the caller sets it between steps.
//
// Not confirmed on a card: whether the first falling edge of a master comes
// a level after the start (as here) or at once, and the level SO shows
// before the first transfer (low here).
#include "cardcpu/cpu/timers.h"

namespace {

struct port_pins {
    std::uint8_t si;
    std::uint8_t sck;
};

constexpr port_pins PINS[2] = {{0x02, 0x04}, {0x10, 0x20}};

std::uint8_t& control_of(vmu_cpu& cpu, unsigned port) {
    return sfr_at(cpu, port == 0 ? vmu_sfr("SCON0") : vmu_sfr("SCON1"));
}

bool running(vmu_cpu& cpu, unsigned port) {
    return (control_of(cpu, port) & 0x08) != 0;
}

bool is_master(const vmu_cpu& cpu, unsigned port) {
    return (sfr_at(cpu, vmu_sfr("P1DDR")) & PINS[port].sck) != 0;
}

bool msb_first(vmu_cpu& cpu, unsigned port) {
    return (control_of(cpu, port) & 0x04) != 0;
}

void falling_edge(vmu_cpu& cpu, unsigned port) {
    vmu_sio& sio = cpu.sio[port];
    sio.so = ((msb_first(cpu, port) ? sio.shift >> 7 : sio.shift) & 1) != 0;
}

void rising_edge(vmu_cpu& cpu, unsigned port) {
    vmu_sio& sio = cpu.sio[port];
    const unsigned in = (cpu.p1_pins & PINS[port].si) != 0 ? 1 : 0;
    if (msb_first(cpu, port)) {
        sio.shift = static_cast<std::uint8_t>((sio.shift << 1) | in);
    } else {
        sio.shift = static_cast<std::uint8_t>((sio.shift >> 1) | (in << 7));
    }
    if (++sio.bits == 8) {
        std::uint8_t& control = control_of(cpu, port);
        control = static_cast<std::uint8_t>((control & ~0x08) | 0x02);
    }
}

}  // namespace

void sio_control(vmu_cpu& cpu, unsigned port, std::uint8_t value) {
    std::uint8_t& control = control_of(cpu, port);
    const bool starting = (value & 0x08) != 0 && (control & 0x08) == 0;
    control = value;
    vmu_sio& sio = cpu.sio[port];
    if (starting) {
        sio.bits = 0;
        sio.phase = 0;
        sio.sck = true;
    } else if ((value & 0x08) == 0) {
        sio.sck = true;  // stopped: the clock back to idle
    }
}

void sio_count(vmu_cpu& cpu, unsigned cycles) {
    const unsigned sbr = sfr_at(cpu, vmu_sfr("SBR"));
    const unsigned level = 256 - sbr;
    for (unsigned port = 0; port < 2; ++port) {
        if (!running(cpu, port) || !is_master(cpu, port)) {
            continue;
        }
        vmu_sio& sio = cpu.sio[port];
        unsigned phase = sio.phase + cycles;
        while (phase >= level && running(cpu, port)) {
            phase -= level;
            sio.sck = !sio.sck;
            if (sio.sck) {
                rising_edge(cpu, port);
            } else {
                falling_edge(cpu, port);
            }
        }
        sio.phase = static_cast<std::uint16_t>(running(cpu, port) ? phase : 0);
    }
}

void sio_pins_changed(vmu_cpu& cpu, std::uint8_t before) {
    for (unsigned port = 0; port < 2; ++port) {
        const std::uint8_t sck = PINS[port].sck;
        if (((before ^ cpu.p1_pins) & sck) == 0 || !running(cpu, port) || is_master(cpu, port)) {
            continue;
        }
        if ((cpu.p1_pins & sck) != 0) {
            rising_edge(cpu, port);
        } else {
            falling_edge(cpu, port);
        }
    }
}
