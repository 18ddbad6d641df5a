// The arithmetic and logic handlers: addition and subtraction with their
// flags, the logic operations, the rotates, multiplication and division. The
// two-operand forms take #i8, d9 or @Ri and leave the result in ACC.
#include "cardcpu/cpu/execute.h"

namespace {

// The second operand of the ALU forms: #i8, d9 or @Ri.
unsigned alu_operand(vmu_cpu& cpu, const vmu_decoded& d, const std::uint8_t* code) {
    return d.form == vmu_form::imm ? code[1] : data_read(cpu, operand_address(cpu, d, code));
}

void add_to_acc(vmu_cpu& cpu, unsigned value, unsigned carry_in) {
    const unsigned a = acc(cpu);
    const unsigned result = a + value + carry_in;
    set_flag(cpu, PSW_CY, result > 0xFF);
    set_flag(cpu, PSW_AC, (a & 0x0F) + (value & 0x0F) + carry_in > 0x0F);
    set_flag(cpu, PSW_OV, ((~(a ^ value) & (a ^ result)) & 0x80) != 0);
    acc(cpu) = static_cast<std::uint8_t>(result);
}

void sub_from_acc(vmu_cpu& cpu, unsigned value, unsigned borrow_in) {
    const unsigned a = acc(cpu);
    const unsigned result = a - value - borrow_in;
    set_flag(cpu, PSW_CY, a < value + borrow_in);
    set_flag(cpu, PSW_AC, (a & 0x0F) < (value & 0x0F) + borrow_in);
    set_flag(cpu, PSW_OV, (((a ^ value) & (a ^ result)) & 0x80) != 0);
    acc(cpu) = static_cast<std::uint8_t>(result);
}

void op_add(vmu_cpu& cpu, const vmu_decoded& d, const std::uint8_t* code) {
    add_to_acc(cpu, alu_operand(cpu, d, code), 0);
}

void op_addc(vmu_cpu& cpu, const vmu_decoded& d, const std::uint8_t* code) {
    add_to_acc(cpu, alu_operand(cpu, d, code), carry(cpu));
}

void op_sub(vmu_cpu& cpu, const vmu_decoded& d, const std::uint8_t* code) {
    sub_from_acc(cpu, alu_operand(cpu, d, code), 0);
}

void op_subc(vmu_cpu& cpu, const vmu_decoded& d, const std::uint8_t* code) {
    sub_from_acc(cpu, alu_operand(cpu, d, code), carry(cpu));
}

void op_or(vmu_cpu& cpu, const vmu_decoded& d, const std::uint8_t* code) {
    acc(cpu) = static_cast<std::uint8_t>(acc(cpu) | alu_operand(cpu, d, code));
}

void op_and(vmu_cpu& cpu, const vmu_decoded& d, const std::uint8_t* code) {
    acc(cpu) = static_cast<std::uint8_t>(acc(cpu) & alu_operand(cpu, d, code));
}

void op_xor(vmu_cpu& cpu, const vmu_decoded& d, const std::uint8_t* code) {
    acc(cpu) = static_cast<std::uint8_t>(acc(cpu) ^ alu_operand(cpu, d, code));
}

void op_ror(vmu_cpu& cpu, const vmu_decoded& /*d*/, const std::uint8_t* /*code*/) {
    acc(cpu) = static_cast<std::uint8_t>((acc(cpu) >> 1) | (acc(cpu) << 7));
}

void op_rol(vmu_cpu& cpu, const vmu_decoded& /*d*/, const std::uint8_t* /*code*/) {
    acc(cpu) = static_cast<std::uint8_t>((acc(cpu) << 1) | (acc(cpu) >> 7));
}

void op_rorc(vmu_cpu& cpu, const vmu_decoded& /*d*/, const std::uint8_t* /*code*/) {
    const unsigned a = acc(cpu);
    acc(cpu) = static_cast<std::uint8_t>((a >> 1) | (carry(cpu) << 7));
    set_flag(cpu, PSW_CY, (a & 1) != 0);
}

void op_rolc(vmu_cpu& cpu, const vmu_decoded& /*d*/, const std::uint8_t* /*code*/) {
    const unsigned a = acc(cpu);
    acc(cpu) = static_cast<std::uint8_t>((a << 1) | carry(cpu));
    set_flag(cpu, PSW_CY, (a & 0x80) != 0);
}

// B x (ACC:C) into B:ACC:C; OV tells that the product needs B.
void op_mul(vmu_cpu& cpu, const vmu_decoded& /*d*/, const std::uint8_t* /*code*/) {
    std::uint8_t& b = sfr_at(cpu, vmu_sfr("B"));
    std::uint8_t& c = sfr_at(cpu, vmu_sfr("C"));
    const unsigned product = ((acc(cpu) << 8) | c) * unsigned{b};
    b = static_cast<std::uint8_t>(product >> 16);
    acc(cpu) = static_cast<std::uint8_t>(product >> 8);
    c = static_cast<std::uint8_t>(product);
    set_flag(cpu, PSW_CY, false);
    set_flag(cpu, PSW_OV, product > 0xFFFF);
}

// (ACC:C) / B: the quotient in ACC:C, the remainder in B. Division by zero
// gives ACC 0xFF with OV set, as most sources have it, B and C unchanged.
void op_div(vmu_cpu& cpu, const vmu_decoded& /*d*/, const std::uint8_t* /*code*/) {
    std::uint8_t& b = sfr_at(cpu, vmu_sfr("B"));
    std::uint8_t& c = sfr_at(cpu, vmu_sfr("C"));
    const unsigned dividend = (acc(cpu) << 8) | c;
    const unsigned divisor = b;
    set_flag(cpu, PSW_CY, false);
    if (divisor == 0) {
        acc(cpu) = 0xFF;
        set_flag(cpu, PSW_OV, true);
        return;
    }
    const unsigned quotient = dividend / divisor;
    acc(cpu) = static_cast<std::uint8_t>(quotient >> 8);
    c = static_cast<std::uint8_t>(quotient);
    b = static_cast<std::uint8_t>(dividend % divisor);
    set_flag(cpu, PSW_OV, false);
}

using enum vmu_op;

constexpr vmu_op_handler handlers[] = {
    {add, op_add},   {addc, op_addc}, {sub, op_sub}, {subc, op_subc}, {or_, op_or},
    {and_, op_and},  {xor_, op_xor},  {ror, op_ror}, {rol, op_rol},   {rorc, op_rorc},
    {rolc, op_rolc}, {mul, op_mul},   {div, op_div},
};

}  // namespace

std::span<const vmu_op_handler> vmu_alu_handlers() {
    return handlers;
}
