// The card processor's special function registers (0x100-0x17F) in one list:
// each register's address, its name, how the model treats it and what sfr.i
// says about it, then the second names some addresses have and the register
// bits programs name. The model looks registers up here by name at compile
// time (vmu_sfr("PSW")), and the build generates the assembler's sfr.i from
// these lists, so a register's name and address are written down once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

/// How the model treats a register.
enum class vmu_sfr_kind : std::uint8_t {
    plain,       // stored and read back
    write_only,  // stored, reads as 0xFF
    unmodelled,  // any use is reported
    special,     // the model gives it a meaning of its own (registers.cpp)
};

struct vmu_sfr_info {
    std::uint16_t address;
    std::string_view name;  // upper case; sfr.i has it in lower case
    vmu_sfr_kind kind;
    const char* warning;    // what the model does not do with it, or nullptr
    std::string_view note;  // sfr.i's comment on it; '\n' starts another line
};

/// Every register with a name, by address. sfr.i groups them as the
/// generator's headings say (cardcpu/asm/sfr_gen.cpp).
inline constexpr vmu_sfr_info vmu_sfr_infos[] = {
    // clang-format off
    {0x100, "ACC", vmu_sfr_kind::plain, nullptr, "accumulator"},
    {0x101, "PSW", vmu_sfr_kind::special, nullptr, "program status word"},
    {0x102, "B", vmu_sfr_kind::plain, nullptr, ""},
    {0x103, "C", vmu_sfr_kind::plain, nullptr, ""},
    {0x104, "TRL", vmu_sfr_kind::plain, nullptr, "table pointer, low byte (LDC, LDF, STF)"},
    {0x105, "TRH", vmu_sfr_kind::plain, nullptr, "table pointer, high byte"},
    {0x106, "SP", vmu_sfr_kind::plain, nullptr,
     "stack pointer (the stack runs from $80 up in bank 0)"},
    {0x107, "PCON", vmu_sfr_kind::plain, nullptr, "power control: bit 0 HALT, bit 1 HOLD"},
    {0x108, "IE", vmu_sfr_kind::plain, nullptr,
     "interrupt enable (bit 7: master enable; bits 1-0:\nINT1 and INT0 at the highest priority)"},
    {0x109, "IP", vmu_sfr_kind::plain, nullptr, "interrupt priority, a bit per source"},
    {0x10D, "EXT", vmu_sfr_kind::plain, nullptr, "bit 0: program source, ROM or flash"},
    {0x10E, "OCR", vmu_sfr_kind::special, nullptr, "oscillation control"},
    {0x110, "T0CNT", vmu_sfr_kind::special, "T0's external clock input (bit 4) is not modelled",
     ""},
    {0x111, "T0PRR", vmu_sfr_kind::plain, nullptr, ""},
    {0x112, "T0L", vmu_sfr_kind::special, nullptr, ""},
    {0x113, "T0LR", vmu_sfr_kind::plain, nullptr, ""},
    {0x114, "T0H", vmu_sfr_kind::special, nullptr, ""},
    {0x115, "T0HR", vmu_sfr_kind::plain, nullptr, ""},
    {0x118, "T1CNT", vmu_sfr_kind::special, nullptr, ""},
    {0x11A, "T1LC", vmu_sfr_kind::plain, nullptr, "T1L's compare value"},
    {0x11B, "T1L", vmu_sfr_kind::special, nullptr, ""},
    {0x11C, "T1HC", vmu_sfr_kind::plain, nullptr, "T1H's compare value"},
    {0x11D, "T1H", vmu_sfr_kind::special, nullptr, ""},
    {0x120, "MCR", vmu_sfr_kind::write_only, nullptr, "write only"},
    {0x122, "STAD", vmu_sfr_kind::special,
     "a display start address other than 0 is not modelled", ""},
    {0x123, "CNR", vmu_sfr_kind::write_only, nullptr, "write only"},
    {0x124, "TDR", vmu_sfr_kind::write_only, nullptr, "write only"},
    {0x125, "XBNK", vmu_sfr_kind::special, "XBNK above 2 is not modelled (bank 2 is used)",
     "XRAM bank: 0 rows 0-15, 1 rows 16-31"},
    {0x127, "VCCR", vmu_sfr_kind::write_only, nullptr, "bit 7: LCD on (write only)"},
    {0x130, "SCON0", vmu_sfr_kind::special,
     "serial port 0's continuous transfer and overrun (bits 7-4) are not modelled",
     "serial port 0 control"},
    {0x131, "SBUF0", vmu_sfr_kind::special, nullptr, "serial port 0's shift register"},
    {0x132, "SBR", vmu_sfr_kind::plain, nullptr, "the serial ports' clock as master"},
    {0x134, "SCON1", vmu_sfr_kind::special,
     "serial port 1's continuous transfer and overrun (bits 7-4) are not modelled",
     "serial port 1 control"},
    {0x135, "SBUF1", vmu_sfr_kind::special, nullptr, "serial port 1's shift register"},
    {0x144, "P1", vmu_sfr_kind::special, nullptr, ""},
    {0x145, "P1DDR", vmu_sfr_kind::write_only, nullptr, "write only"},
    {0x146, "P1FCR", vmu_sfr_kind::write_only, nullptr, "write only"},
    {0x14C, "P3", vmu_sfr_kind::special, nullptr,
     "buttons, active low: 0 up, 1 down, 2 left, 3 right,\n4 A, 5 B, 6 MODE, 7 SLEEP"},
    {0x14D, "P3DDR", vmu_sfr_kind::write_only, nullptr, "write only"},
    {0x14E, "P3INT", vmu_sfr_kind::special,
     "P3's interrupt modes beyond bits 2-0 are not modelled", ""},
    {0x154, "FPR", vmu_sfr_kind::plain, nullptr,
     "bit 0: flash bank of LDF/STF; bit 1: unlock writes"},
    {0x15C, "P7", vmu_sfr_kind::special, nullptr,
     "bit 0: 5 V present (docked); bit 3: a peer present"},
    {0x15D, "I01CR", vmu_sfr_kind::plain, nullptr, "external interrupts INT0 (P70), INT1 (P71)"},
    {0x15E, "I23CR", vmu_sfr_kind::plain, nullptr, "external interrupts INT2 (P72), INT3 (P73)"},
    {0x15F, "ISL", vmu_sfr_kind::special,
     "input signal selection other than 0xC0 is not modelled", ""},
    {0x163, "VSEL", vmu_sfr_kind::plain, nullptr, "bit 4: VTRBF moves VRMAD on"},
    {0x164, "VRMAD1", vmu_sfr_kind::special, nullptr, "work RAM address, low byte"},
    {0x165, "VRMAD2", vmu_sfr_kind::special, nullptr, "work RAM address, bit 8"},
    {0x166, "VTRBF", vmu_sfr_kind::special, nullptr, "the work RAM byte at VRMAD"},
    {0x167, "VLREG", vmu_sfr_kind::special,
     "the console's link is not modelled: no console answers", ""},
    {0x17F, "BTCR", vmu_sfr_kind::special, nullptr, "base timer control"},
    // clang-format on
};

/// A second name for a register's address: T1's counters read as the
/// counter and are written as the reload value (and as the counter of a
/// stopped half).
struct vmu_sfr_alias {
    std::string_view name;
    std::uint16_t address;
};

inline constexpr vmu_sfr_alias vmu_sfr_aliases[] = {
    {"T1LR", 0x11B},
    {"T1HR", 0x11D},
};

/// A bit of a register that programs name.
struct vmu_sfr_bit_info {
    std::uint16_t address;  // the register's
    std::string_view name;  // upper case, as the registers' names
    std::uint8_t bit;       // 0 to 7
    std::string_view note;  // sfr.i's comment on it
};

inline constexpr vmu_sfr_bit_info vmu_sfr_bits[] = {
    {0x101, "CY", 7, "carry"},
    {0x101, "AC", 6, "auxiliary carry"},
    {0x101, "IRBK1", 4, "indirect register bank, high bit"},
    {0x101, "IRBK0", 3, "indirect register bank, low bit"},
    {0x101, "OV", 2, "overflow"},
    {0x101, "RAMBK0", 1, "RAM bank"},
    {0x101, "P", 0, "parity of ACC (read only)"},
    {0x107, "HALT", 0, ""},
    {0x107, "HOLD", 1, ""},
};

namespace vmu_sfr_detail {

// Reached only in a lookup that finds nothing: not a constant expression, so
// the compiler stops there.
inline void no_such_name() {}

}  // namespace vmu_sfr_detail

/// The address of the register called `name` (or by its second name). Runs
/// at compile time only: a name the list lacks does not compile.
consteval std::uint16_t vmu_sfr(std::string_view name) {
    for (const vmu_sfr_info& row : vmu_sfr_infos) {
        if (row.name == name) {
            return row.address;
        }
    }
    for (const vmu_sfr_alias& alias : vmu_sfr_aliases) {
        if (alias.name == name) {
            return alias.address;
        }
    }
    vmu_sfr_detail::no_such_name();
    return 0;
}

/// The mask of the register bit called `name`; compile time only, as vmu_sfr.
consteval std::uint8_t vmu_sfr_bit_mask(std::string_view name) {
    for (const vmu_sfr_bit_info& row : vmu_sfr_bits) {
        if (row.name == name) {
            return static_cast<std::uint8_t>(1U << row.bit);
        }
    }
    vmu_sfr_detail::no_such_name();
    return 0;
}

namespace vmu_sfr_detail {

// sfr.i puts every name into one name space, in lower case.
constexpr bool name_is_sound(std::string_view name) {
    if (name.empty()) {
        return false;
    }
    for (const char c : name) {
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) {
            return false;
        }
    }
    return true;
}

constexpr bool is_register(std::uint16_t address) {
    for (const vmu_sfr_info& row : vmu_sfr_infos) {
        if (row.address == address) {
            return true;
        }
    }
    return false;
}

// Each name once among registers, second names and bits; registers in
// address order within 0x100-0x17F; second names and bits on registers of
// the list.
consteval bool lists_are_sound() {
    std::string_view
        names[std::size(vmu_sfr_infos) + std::size(vmu_sfr_aliases) + std::size(vmu_sfr_bits)];
    std::size_t count = 0;
    std::uint16_t previous = 0xFF;
    for (const vmu_sfr_info& row : vmu_sfr_infos) {
        if (row.address <= previous || row.address > 0x17F) {
            return false;
        }
        previous = row.address;
        names[count++] = row.name;
    }
    for (const vmu_sfr_alias& alias : vmu_sfr_aliases) {
        if (!is_register(alias.address)) {
            return false;
        }
        names[count++] = alias.name;
    }
    for (const vmu_sfr_bit_info& row : vmu_sfr_bits) {
        if (!is_register(row.address) || row.bit > 7) {
            return false;
        }
        names[count++] = row.name;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (!name_is_sound(names[i])) {
            return false;
        }
        for (std::size_t j = i + 1; j < count; ++j) {
            if (names[i] == names[j]) {
                return false;
            }
        }
    }
    return true;
}

static_assert(lists_are_sound());

}  // namespace vmu_sfr_detail
