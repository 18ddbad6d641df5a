// The handlers that move data: loads, stores and moves, the stack, the
// read-modify-write instructions on a byte or a bit, and the reads and
// writes of the flash.
#include "cardcpu/cpu/execute.h"

namespace {

void op_nop(vmu_cpu& /*cpu*/, const vmu_decoded& /*d*/, const std::uint8_t* /*code*/) {}

void op_ld(vmu_cpu& cpu, const vmu_decoded& d, const std::uint8_t* code) {
    acc(cpu) = data_read(cpu, operand_address(cpu, d, code));
}

void op_st(vmu_cpu& cpu, const vmu_decoded& d, const std::uint8_t* code) {
    data_write(cpu, operand_address(cpu, d, code), acc(cpu));
}

// MOV #i8,d9 has the value after the address; MOV #i8,@Ri right after the
// opcode.
void op_mov(vmu_cpu& cpu, const vmu_decoded& d, const std::uint8_t* code) {
    data_write(cpu, operand_address(cpu, d, code), d.form == vmu_form::imm_d9 ? code[2] : code[1]);
}

void op_xch(vmu_cpu& cpu, const vmu_decoded& d, const std::uint8_t* code) {
    const std::uint16_t address = operand_address(cpu, d, code);
    const std::uint8_t value = data_read(cpu, address);
    data_write(cpu, address, acc(cpu));
    acc(cpu) = value;
}

void op_push(vmu_cpu& cpu, const vmu_decoded& d, const std::uint8_t* code) {
    stack_push(cpu, data_read(cpu, operand_address(cpu, d, code)));
}

void op_pop(vmu_cpu& cpu, const vmu_decoded& d, const std::uint8_t* code) {
    const std::uint16_t address = operand_address(cpu, d, code);
    data_write(cpu, address, stack_pop(cpu));
}

// The read-modify-write instructions read P1 and P3 as their latch.
void op_inc(vmu_cpu& cpu, const vmu_decoded& d, const std::uint8_t* code) {
    const std::uint16_t address = operand_address(cpu, d, code);
    data_write(cpu, address, static_cast<std::uint8_t>(data_read_latch(cpu, address) + 1));
}

void op_dec(vmu_cpu& cpu, const vmu_decoded& d, const std::uint8_t* code) {
    const std::uint16_t address = operand_address(cpu, d, code);
    data_write(cpu, address, static_cast<std::uint8_t>(data_read_latch(cpu, address) - 1));
}

void op_set1(vmu_cpu& cpu, const vmu_decoded& d, const std::uint8_t* code) {
    const std::uint16_t address = operand_address(cpu, d, code);
    data_write(cpu, address,
               static_cast<std::uint8_t>(data_read_latch(cpu, address) | operand_bit(code)));
}

void op_clr1(vmu_cpu& cpu, const vmu_decoded& d, const std::uint8_t* code) {
    const std::uint16_t address = operand_address(cpu, d, code);
    data_write(cpu, address,
               static_cast<std::uint8_t>(data_read_latch(cpu, address) & ~operand_bit(code)));
}

void op_not1(vmu_cpu& cpu, const vmu_decoded& d, const std::uint8_t* code) {
    const std::uint16_t address = operand_address(cpu, d, code);
    data_write(cpu, address,
               static_cast<std::uint8_t>(data_read_latch(cpu, address) ^ operand_bit(code)));
}

std::uint16_t table_pointer(const vmu_cpu& cpu) {
    return static_cast<std::uint16_t>((sfr_at(cpu, vmu_sfr("TRH")) << 8) |
                                      sfr_at(cpu, vmu_sfr("TRL")));
}

// The flash address LDF and STF use: FPR bit 0, TRH, TRL.
std::uint32_t flash_pointer(const vmu_cpu& cpu) {
    return ((sfr_at(cpu, vmu_sfr("FPR")) & 1U) << 16) | table_pointer(cpu);
}

// The program space LDC reads: the ROM for the ROM's own code, flash bank
// 0 for a game's.
void op_ldc(vmu_cpu& cpu, const vmu_decoded& /*d*/, const std::uint8_t* /*code*/) {
    const auto address = static_cast<std::uint16_t>(table_pointer(cpu) + acc(cpu));
    acc(cpu) = cpu.rom_source && rom_mode(cpu) ? cpu.rom[address] : cpu.flash[address];
}

// LDF and STF reach the flash chip, with its commands (flash.cpp).
void op_ldf(vmu_cpu& cpu, const vmu_decoded& /*d*/, const std::uint8_t* /*code*/) {
    acc(cpu) = flash_read(cpu, flash_pointer(cpu));
}

void op_stf(vmu_cpu& cpu, const vmu_decoded& /*d*/, const std::uint8_t* /*code*/) {
    flash_write(cpu, flash_pointer(cpu), acc(cpu));
}

using enum vmu_op;

constexpr vmu_op_handler handlers[] = {
    {nop, op_nop},   {ld, op_ld},     {st, op_st},   {mov, op_mov}, {xch, op_xch},
    {push, op_push}, {pop, op_pop},   {inc, op_inc}, {dec, op_dec}, {set1, op_set1},
    {clr1, op_clr1}, {not1, op_not1}, {ldc, op_ldc}, {ldf, op_ldf}, {stf, op_stf},
};

}  // namespace

std::span<const vmu_op_handler> vmu_data_handlers() {
    return handlers;
}
