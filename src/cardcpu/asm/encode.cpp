// Choosing an instruction form by its operand syntax, and encoding it.
#include "cardcpu/asm/encode.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <vector>

namespace {

using enum vmu_form;
using kind = vmu_asm_operand_kind;

struct form_syntax {
    std::vector<kind> kinds;
    const char* text;  // as the error messages show it
};

/// How each form is written, in source order.
const form_syntax& syntax_of(vmu_form form) {
    static const form_syntax table[] = {
        /* implied */ {{}, "no operands"},
        /* r8 */ {{kind::value}, "r8"},
        /* r16 */ {{kind::value}, "r16"},
        /* a12 */ {{kind::value}, "a12"},
        /* a16 */ {{kind::value}, "a16"},
        /* imm */ {{kind::immediate}, "#i8"},
        /* d9 */ {{kind::value}, "d9"},
        /* ri */ {{kind::indirect}, "@Ri"},
        /* imm_d9 */ {{kind::immediate, kind::value}, "#i8,d9"},
        /* imm_ri */ {{kind::immediate, kind::indirect}, "#i8,@Ri"},
        /* imm_r8 */ {{kind::immediate, kind::value}, "#i8,r8"},
        /* d9_r8 */ {{kind::value, kind::value}, "d9,r8"},
        /* ri_imm_r8 */ {{kind::indirect, kind::immediate, kind::value}, "@Ri,#i8,r8"},
        /* ri_r8 */ {{kind::indirect, kind::value}, "@Ri,r8"},
        /* bit_d9 */ {{kind::value, kind::value}, "d9,b3"},
        /* bit_d9_r8 */ {{kind::value, kind::value, kind::value}, "d9,b3,r8"},
    };
    static_assert(std::size(table) == static_cast<std::size_t>(bit_d9_r8) + 1,
                  "one row per form, in the order of vmu_form");
    return table[static_cast<std::size_t>(form)];
}

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

bool check_range(std::int64_t value, std::int64_t low, std::int64_t high, const char* what,
                 std::string& error) {
    if (value >= low && value <= high) {
        return true;
    }
    error = std::string(what) + " " + vmu_asm_hex(value, 1) + " is outside " + vmu_asm_hex(low, 1) +
            "-" + vmu_asm_hex(high, 1);
    return false;
}

bool check_d9(std::int64_t value, std::string& error) {
    return check_range(value, 0, 0x1FF, "data address", error);
}

bool check_bit(std::int64_t value, std::string& error) {
    if (value >= 0 && value <= 7) {
        return true;
    }
    error = "bit number " + std::to_string(value) + " is outside 0-7";
    return false;
}

bool check_byte(std::int64_t value, std::string& error) {
    if (value >= -128 && value <= 255) {
        return true;
    }
    error = "immediate " + vmu_asm_hex(value, 1) + " does not fit in a byte";
    return false;
}

/// The r8 byte reaching `target` from the instruction that ends at `next`.
bool relative8(std::int64_t target, std::int64_t next, std::uint8_t& out, std::string& error) {
    if (!check_range(target, 0, 0xFFFF, "branch target", error)) {
        return false;
    }
    const std::int64_t offset = target - next;
    if (offset < -128 || offset > 127) {
        error = "branch target " + vmu_asm_hex(target, 4) + " is " + std::to_string(offset) +
                " bytes from the next instruction, beyond r8's -128 to 127";
        return false;
    }
    out = static_cast<std::uint8_t>(offset & 0xFF);
    return true;
}

/// The operand bytes of the forms with a plain value first (`v` in source
/// order); `out[0]` already holds the opcode.
bool encode_operands(const vmu_insn_form& form, std::int64_t next, std::span<const std::int64_t> v,
                     std::array<std::uint8_t, 3>& out, std::string& error) {
    const auto low = [](std::int64_t value) { return static_cast<std::uint8_t>(value & 0xFF); };
    const auto d9_bit8 = [](std::int64_t value) { return static_cast<std::uint8_t>(value >> 8); };
    switch (form.form) {
        case r8:
            return relative8(v[0], next, out[1], error);
        case r16:
            if (!check_range(v[0], 0, 0xFFFF, "branch target", error)) {
                return false;
            }
            // The target is the next instruction - 1 + r16, modulo 64 KiB.
            out[1] = low(v[0] - next + 1);
            out[2] = low((v[0] - next + 1) >> 8);
            return true;
        case a12:
            if (!check_range(v[0], 0, 0xFFFF, "jump target", error)) {
                return false;
            }
            if ((v[0] & 0xF000) != (next & 0xF000)) {
                error = "a12 target " + vmu_asm_hex(v[0], 4) + " lies outside the 4 KiB page " +
                        vmu_asm_hex(next & 0xF000, 4) + "-" +
                        vmu_asm_hex((next & 0xF000) | 0xFFF, 4) +
                        " of the next instruction (JMPF or CALLF reach it)";
                return false;
            }
            out[0] |= static_cast<std::uint8_t>(((v[0] >> 7) & 0x10) | ((v[0] >> 8) & 0x07));
            out[1] = low(v[0]);
            return true;
        case a16:
            if (!check_range(v[0], 0, 0xFFFF, "jump target", error)) {
                return false;
            }
            out[1] = low(v[0] >> 8);
            out[2] = low(v[0]);
            return true;
        case d9:
            if (!check_d9(v[0], error)) {
                return false;
            }
            out[0] |= d9_bit8(v[0]);
            out[1] = low(v[0]);
            return true;
        case d9_r8:
            if (!check_d9(v[0], error)) {
                return false;
            }
            out[0] |= d9_bit8(v[0]);
            out[1] = low(v[0]);
            return relative8(v[1], next, out[2], error);
        case bit_d9:
        case bit_d9_r8:
            if (!check_d9(v[0], error) || !check_bit(v[1], error)) {
                return false;
            }
            out[0] |= static_cast<std::uint8_t>((d9_bit8(v[0]) << 4) | v[1]);
            out[1] = low(v[0]);
            return form.form == bit_d9 || relative8(v[2], next, out[2], error);
        default:
            return false;
    }
}

}  // namespace

std::string vmu_asm_hex(std::int64_t value, int digits) {
    char text[24];
    const unsigned long long magnitude = value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                                   : static_cast<unsigned long long>(value);
    std::snprintf(text, sizeof text, "%s$%0*llX", value < 0 ? "-" : "", digits, magnitude);
    return text;
}

bool vmu_asm_is_mnemonic(std::string_view name) {
    for (const vmu_insn_form& row : vmu_insn_forms()) {
        if (name == row.mnemonic) {
            return true;
        }
    }
    return false;
}

const vmu_insn_form* vmu_asm_select_form(std::string_view mnemonic,
                                         std::span<const vmu_asm_operand_kind> kinds,
                                         std::string& error) {
    std::string forms;
    for (const vmu_insn_form& row : vmu_insn_forms()) {
        if (mnemonic != row.mnemonic) {
            continue;
        }
        const std::vector<kind>& wanted = syntax_of(row.form).kinds;
        if (std::equal(wanted.begin(), wanted.end(), kinds.begin(), kinds.end())) {
            return &row;
        }
        forms += forms.empty() ? "" : " or ";
        forms += syntax_of(row.form).text;
    }
    error = forms.empty() ? "unknown mnemonic '" + std::string(mnemonic) + "'"
                          : upper(mnemonic) + " takes " + forms;
    return nullptr;
}

bool vmu_asm_encode(const vmu_insn_form& form, std::int64_t pc,
                    std::span<const std::int64_t> values, std::array<std::uint8_t, 3>& out,
                    std::string& error) {
    out = {form.opcode, 0, 0};
    const std::int64_t next = pc + form.size;
    switch (form.form) {
        case implied:
            return true;
        case imm:
            out[1] = static_cast<std::uint8_t>(values[0] & 0xFF);
            return check_byte(values[0], error);
        case ri:
            out[0] |= static_cast<std::uint8_t>(values[0]);
            return true;
        case imm_d9:
            // MOV #i8,d9 puts the address first and the value last.
            if (!check_byte(values[0], error) || !check_d9(values[1], error)) {
                return false;
            }
            out[0] |= static_cast<std::uint8_t>(values[1] >> 8);
            out[1] = static_cast<std::uint8_t>(values[1] & 0xFF);
            out[2] = static_cast<std::uint8_t>(values[0] & 0xFF);
            return true;
        case imm_ri:
            out[0] |= static_cast<std::uint8_t>(values[1]);
            out[1] = static_cast<std::uint8_t>(values[0] & 0xFF);
            return check_byte(values[0], error);
        case imm_r8:
            out[1] = static_cast<std::uint8_t>(values[0] & 0xFF);
            return check_byte(values[0], error) && relative8(values[1], next, out[2], error);
        case ri_imm_r8:
            out[0] |= static_cast<std::uint8_t>(values[0]);
            out[1] = static_cast<std::uint8_t>(values[1] & 0xFF);
            return check_byte(values[1], error) && relative8(values[2], next, out[2], error);
        case ri_r8:
            out[0] |= static_cast<std::uint8_t>(values[0]);
            return relative8(values[1], next, out[1], error);
        default:
            return encode_operands(form, next, values, out, error);
    }
}
