// The pins: P1 (the serial ports' lines and the buzzer), P3 (the buttons)
// and P7 (the contacts the card watches, its external interrupts). The
// caller sets input pins between steps; what the card drives is read back
// through vmu_cpu_p1_drive.
#include "cardcpu/cpu/timers.h"

namespace {

// P1's bits that carry a function's output when P1FCR gives them to it.
constexpr std::uint8_t P1_SO0 = 0x01;
constexpr std::uint8_t P1_SCK0 = 0x04;
constexpr std::uint8_t P1_SO1 = 0x08;
constexpr std::uint8_t P1_SCK1 = 0x20;
constexpr std::uint8_t P1_PULSE = 0x80;

// External interrupt n (0-3) is pin n of P7; its control is a nibble of
// I01CR (INT0, INT1) or I23CR (INT2, INT3): bit 0 enable, bit 1 flag, bit 2
// level (1) or edge (0), bit 3 high or rising (1), low or falling (0).
std::uint8_t& control_of(vmu_cpu& cpu, unsigned n) {
    return sfr_at(cpu, n < 2 ? vmu_sfr("I01CR") : vmu_sfr("I23CR"));
}

unsigned shift_of(unsigned n) {
    return (n & 1) * 4;
}

}  // namespace

void vmu_cpu_set_p1_pins(vmu_cpu& cpu, std::uint8_t pins) {
    const std::uint8_t before = cpu.p1_pins;
    cpu.p1_pins = pins;
    if (before != pins) {
        sio_pins_changed(cpu, before);
    }
}

vmu_p1_drive vmu_cpu_p1_drive(const vmu_cpu& cpu) {
    const vmu_p1_outputs outputs = vmu_cpu_p1_outputs(cpu);
    std::uint8_t function = 0;
    if (cpu.sio[0].so) {
        function |= P1_SO0;
    }
    if (cpu.sio[0].sck) {
        function |= P1_SCK0;
    }
    if (cpu.sio[1].so) {
        function |= P1_SO1;
    }
    if (cpu.sio[1].sck) {
        function |= P1_SCK1;
    }
    if (t1_pulse(cpu)) {
        function |= P1_PULSE;
    }
    const std::uint8_t given = sfr_at(cpu, vmu_sfr("P1FCR"));
    return {outputs.ddr,
            static_cast<std::uint8_t>((outputs.latch | (function & given)) & outputs.ddr)};
}

void vmu_cpu_set_buttons(vmu_cpu& cpu, std::uint8_t pressed) {
    const auto pins = static_cast<std::uint8_t>(~pressed);
    if ((cpu.p3_pins & ~pins) != 0) {
        sfr_at(cpu, vmu_sfr("P3INT")) |= 0x02;
    }
    cpu.p3_pins = pins;
}

void vmu_cpu_set_p7(vmu_cpu& cpu, std::uint8_t pins) {
    const std::uint8_t before = cpu.p7_pins;
    cpu.p7_pins = pins;
    for (unsigned n = 0; n < 4; ++n) {
        std::uint8_t& control = control_of(cpu, n);
        const unsigned c = (control >> shift_of(n)) & 0x0F;
        const bool was = (before >> n & 1) != 0;
        const bool is = (pins >> n & 1) != 0;
        const bool rising_wanted = (c & 0x08) != 0;
        if ((c & 0x04) == 0 && was != is && is == rising_wanted) {
            control |= static_cast<std::uint8_t>(0x02 << shift_of(n));
        }
    }
    raise_level_requests(cpu);
}

void raise_level_requests(vmu_cpu& cpu) {
    std::uint8_t& p3int = sfr_at(cpu, vmu_sfr("P3INT"));
    const std::uint8_t keys = static_cast<std::uint8_t>(
        cpu.p3_pins | sfr_at(cpu, vmu_sfr("P3DDR")));  // output pins are no keys
    // Continuous mode: a key held raises the request again while the card
    // sleeps in HALT, so that a held key keeps waking it; awake, only a new
    // press raises it. The system ROM leaves the interrupt enabled while it
    // works after a wake: were the request raised again as each handler
    // returns, the instruction after RETI would take it up, the ROM would
    // run one instruction per handler while a key is held, and it would
    // look at the keys only once they were let go.
    const std::uint8_t sleeping =
        sfr_at(cpu, vmu_sfr("PCON")) & (vmu_sfr_bit_mask("HALT") | vmu_sfr_bit_mask("HOLD"));
    if ((p3int & 0x04) != 0 && sleeping != 0 && keys != 0xFF) {
        p3int |= 0x02;
    }
    for (unsigned n = 0; n < 4; ++n) {
        std::uint8_t& control = control_of(cpu, n);
        const unsigned c = (control >> shift_of(n)) & 0x0F;
        const bool is = (cpu.p7_pins >> n & 1) != 0;
        if ((c & 0x04) != 0 && is == ((c & 0x08) != 0)) {
            control |= static_cast<std::uint8_t>(0x02 << shift_of(n));
        }
    }
}
