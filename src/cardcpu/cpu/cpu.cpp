// The step function: one instruction decoded through the shared instruction
// table, executed, and the clock and timers advanced by its cycles. It also
// takes interrupts, waits out HALT and hands ROM entries to the BIOS
// routines.
#include "cardcpu/cpu/cpu.h"

#include <array>

#include "cardcpu/cpu/cpu_internal.h"
#include "cardcpu/cpu/isa.h"
#include "cardcpu/cpu/timers.h"

namespace {

// The instruction table flattened for the step function: one entry per
// opcode byte, with nothing to follow through a pointer.
struct decoded {
    vmu_op op;
    vmu_form form;
    std::uint8_t size;
    std::uint8_t cycles;  // 0: undefined opcode
    // The operand address of the d9 and bit forms is (opcode AND
    // address_bit) x address_scale, which moves the opcode's bit to bit 8,
    // OR the next byte; @Ri forms take theirs from the pointer instead.
    std::uint8_t address_bit;
    std::uint8_t address_scale;
    bool indirect;
};

std::array<decoded, 256> make_decode_table() noexcept {
    std::array<decoded, 256> t{};
    for (unsigned opcode = 0; opcode < 256; ++opcode) {
        const vmu_insn_form* row = vmu_decode(static_cast<std::uint8_t>(opcode));
        if (row == nullptr) {
            continue;
        }
        decoded& d = t[opcode];
        d = {row->op, row->form, row->size, row->cycles, 0, 0, false};
        switch (row->form) {
            case vmu_form::d9:
            case vmu_form::imm_d9:
            case vmu_form::d9_r8:
                d.address_bit = 0x01;
                d.address_scale = 0x80;  // with the shift below: bit 0 to bit 8
                break;
            case vmu_form::bit_d9:
            case vmu_form::bit_d9_r8:
                d.address_bit = 0x10;
                d.address_scale = 0x08;  // bit 4 to bit 8
                break;
            case vmu_form::ri:
            case vmu_form::imm_ri:
            case vmu_form::ri_imm_r8:
            case vmu_form::ri_r8:
                d.indirect = true;
                break;
            default:
                break;
        }
    }
    return t;
}

// Built before main(), so that the step function pays no guard for it.
const std::array<decoded, 256> decode_table = make_decode_table();

// Cycles an interrupt's entry takes: the pushes and the jump of a CALLF.
constexpr unsigned INTERRUPT_CYCLES = 2;

std::uint8_t& acc(vmu_cpu& cpu) {
    return cpu.sfr[0];
}
std::uint8_t& psw(vmu_cpu& cpu) {
    return cpu.sfr[1];
}

void set_flag(vmu_cpu& cpu, std::uint8_t flag, bool on) {
    psw(cpu) = static_cast<std::uint8_t>(on ? (psw(cpu) | flag) : (psw(cpu) & ~flag));
}

unsigned carry(vmu_cpu& cpu) {
    return (psw(cpu) & PSW_CY) != 0 ? 1U : 0U;
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

// B x (ACC:C) into B:ACC:C; OV tells that the product needs B.
void multiply(vmu_cpu& cpu) {
    const unsigned product = ((acc(cpu) << 8) | cpu.sfr[3]) * unsigned{cpu.sfr[2]};
    cpu.sfr[2] = static_cast<std::uint8_t>(product >> 16);
    acc(cpu) = static_cast<std::uint8_t>(product >> 8);
    cpu.sfr[3] = static_cast<std::uint8_t>(product);
    set_flag(cpu, PSW_CY, false);
    set_flag(cpu, PSW_OV, product > 0xFFFF);
}

// (ACC:C) / B: the quotient in ACC:C, the remainder in B. Division by zero
// gives ACC 0xFF with OV set, as most sources have it, B and C unchanged.
void divide(vmu_cpu& cpu) {
    const unsigned dividend = (acc(cpu) << 8) | cpu.sfr[3];
    const unsigned divisor = cpu.sfr[2];
    set_flag(cpu, PSW_CY, false);
    if (divisor == 0) {
        acc(cpu) = 0xFF;
        set_flag(cpu, PSW_OV, true);
        return;
    }
    const unsigned quotient = dividend / divisor;
    acc(cpu) = static_cast<std::uint8_t>(quotient >> 8);
    cpu.sfr[3] = static_cast<std::uint8_t>(quotient);
    cpu.sfr[2] = static_cast<std::uint8_t>(dividend % divisor);
    set_flag(cpu, PSW_OV, false);
}

void push_return(vmu_cpu& cpu, std::uint16_t address) {
    stack_push(cpu, static_cast<std::uint8_t>(address));
    stack_push(cpu, static_cast<std::uint8_t>(address >> 8));
}

std::uint16_t pop_return(vmu_cpu& cpu) {
    const unsigned high = stack_pop(cpu);
    return static_cast<std::uint16_t>((high << 8) | stack_pop(cpu));
}

// The address of @Ri: the pointer at IRBK x 4 + i, R2 and R3 into 0x100-0x1FF.
std::uint16_t indirect(vmu_cpu& cpu, unsigned opcode) {
    const unsigned i = opcode & 3;
    const unsigned pointer = ((psw(cpu) & PSW_IRBK) >> 1) | i;
    return static_cast<std::uint16_t>(cpu.ram[ram_index(cpu, pointer)] | ((i & 2) << 7));
}

// The flash address LDF and STF use: FPR bit 0, TRH, TRL.
std::uint32_t flash_pointer(const vmu_cpu& cpu) {
    return ((cpu.sfr[VMU_FPR - 0x100] & 1U) << 16) | (unsigned{cpu.sfr[5]} << 8) | cpu.sfr[4];
}

unsigned take_interrupt(vmu_cpu& cpu, std::uint16_t vector) {
    push_return(cpu, cpu.pc);
    cpu.pc = vector;
    cpu.in_interrupt = true;
    sfr_at(cpu, VMU_PCON) &= 0xFE;
    return INTERRUPT_CYCLES;
}

// Executes the instruction at cpu.pc; `code` holds its bytes.
void execute(vmu_cpu& cpu, const decoded& d, const std::uint8_t* code) {
    const unsigned opcode = code[0];
    const std::uint8_t b1 = code[1];
    const std::uint8_t b2 = code[2];
    const auto next = static_cast<std::uint16_t>(cpu.pc + d.size);
    cpu.pc = next;
    // The operand address of the d9, @Ri and bit forms, without a branch
    // for the direct ones.
    auto address =
        static_cast<std::uint16_t>(((opcode & d.address_bit) * d.address_scale * 2U) | b1);
    if (d.indirect) {
        address = indirect(cpu, opcode);
    }
    const auto bit = static_cast<std::uint8_t>(1U << (opcode & 7));
    const auto branch8 = [&](std::uint8_t offset) {
        cpu.pc = static_cast<std::uint16_t>(next + static_cast<std::int8_t>(offset));
    };
    // The operand of the ALU forms: #i8, d9 or @Ri.
    const auto operand = [&]() -> unsigned {
        return d.form == vmu_form::imm ? b1 : data_read(cpu, address);
    };
    const auto a12 = static_cast<std::uint16_t>((next & 0xF000) | ((opcode & 0x10) << 7) |
                                                ((opcode & 7) << 8) | b1);
    const auto r16 = static_cast<std::uint16_t>(next - 1 + (b1 | (b2 << 8)));
    switch (d.op) {
        using enum vmu_op;
        case nop:
            break;
        case br:
            branch8(b1);
            break;
        case ld:
            acc(cpu) = data_read(cpu, address);
            break;
        case st:
            data_write(cpu, address, acc(cpu));
            break;
        case mov:
            data_write(cpu, address, d.form == vmu_form::imm_d9 ? b2 : b1);
            break;
        case xch: {
            const std::uint8_t value = data_read(cpu, address);
            data_write(cpu, address, acc(cpu));
            acc(cpu) = value;
            break;
        }
        case call:
            push_return(cpu, next);
            cpu.pc = a12;
            break;
        case jmp:
            cpu.pc = a12;
            break;
        case callr:
            push_return(cpu, next);
            cpu.pc = r16;
            break;
        case brf:
            cpu.pc = r16;
            break;
        case callf:
            push_return(cpu, next);
            cpu.pc = static_cast<std::uint16_t>((b1 << 8) | b2);
            break;
        case jmpf:
            // The program source EXT selects takes effect at a far jump: the
            // BIOS stubs flip EXT bit 0 and then jump.
            cpu.rom_source = (cpu.sfr[VMU_EXT - 0x100] & 1) != 0;
            cpu.pc = static_cast<std::uint16_t>((b1 << 8) | b2);
            break;
        case ret:
            cpu.pc = pop_return(cpu);
            break;
        case reti:
            cpu.pc = pop_return(cpu);
            cpu.in_interrupt = false;
            cpu.after_reti = true;
            break;
        case mul:
            multiply(cpu);
            break;
        case div:
            divide(cpu);
            break;
        case be:
        case bne: {
            // BE and BNE both set CY when the first operand is the smaller,
            // as most sources have it for BNE.
            const unsigned left =
                d.form == vmu_form::ri_imm_r8 ? data_read(cpu, address) : acc(cpu);
            const unsigned right = d.form == vmu_form::d9_r8 ? data_read(cpu, address) : b1;
            set_flag(cpu, PSW_CY, left < right);
            if ((left == right) == (d.op == be)) {
                branch8(b2);
            }
            break;
        }
        case dbnz: {
            const auto value = static_cast<std::uint8_t>(data_read_latch(cpu, address) - 1);
            data_write(cpu, address, value);
            if (value != 0) {
                branch8(d.form == vmu_form::ri_r8 ? b1 : b2);
            }
            break;
        }
        case bp:
            if ((data_read(cpu, address) & bit) != 0) {
                branch8(b2);
            }
            break;
        case bn:
            if ((data_read(cpu, address) & bit) == 0) {
                branch8(b2);
            }
            break;
        case bpc: {
            const std::uint8_t value = data_read_latch(cpu, address);
            if ((value & bit) != 0) {
                data_write(cpu, address, static_cast<std::uint8_t>(value & ~bit));
                branch8(b2);
            }
            break;
        }
        case bz:
            if (acc(cpu) == 0) {
                branch8(b1);
            }
            break;
        case bnz:
            if (acc(cpu) != 0) {
                branch8(b1);
            }
            break;
        case set1:
            data_write(cpu, address,
                       static_cast<std::uint8_t>(data_read_latch(cpu, address) | bit));
            break;
        case clr1:
            data_write(cpu, address,
                       static_cast<std::uint8_t>(data_read_latch(cpu, address) & ~bit));
            break;
        case not1:
            data_write(cpu, address,
                       static_cast<std::uint8_t>(data_read_latch(cpu, address) ^ bit));
            break;
        case inc:
            data_write(cpu, address, static_cast<std::uint8_t>(data_read_latch(cpu, address) + 1));
            break;
        case dec:
            data_write(cpu, address, static_cast<std::uint8_t>(data_read_latch(cpu, address) - 1));
            break;
        case push:
            stack_push(cpu, data_read(cpu, address));
            break;
        case pop:
            data_write(cpu, address, stack_pop(cpu));
            break;
        case add:
            add_to_acc(cpu, operand(), 0);
            break;
        case addc:
            add_to_acc(cpu, operand(), carry(cpu));
            break;
        case sub:
            sub_from_acc(cpu, operand(), 0);
            break;
        case subc:
            sub_from_acc(cpu, operand(), carry(cpu));
            break;
        case or_:
            acc(cpu) = static_cast<std::uint8_t>(acc(cpu) | operand());
            break;
        case and_:
            acc(cpu) = static_cast<std::uint8_t>(acc(cpu) & operand());
            break;
        case xor_:
            acc(cpu) = static_cast<std::uint8_t>(acc(cpu) ^ operand());
            break;
        case ror:
            acc(cpu) = static_cast<std::uint8_t>((acc(cpu) >> 1) | (acc(cpu) << 7));
            break;
        case rol:
            acc(cpu) = static_cast<std::uint8_t>((acc(cpu) << 1) | (acc(cpu) >> 7));
            break;
        case rorc: {
            const unsigned a = acc(cpu);
            acc(cpu) = static_cast<std::uint8_t>((a >> 1) | (carry(cpu) << 7));
            set_flag(cpu, PSW_CY, (a & 1) != 0);
            break;
        }
        case rolc: {
            const unsigned a = acc(cpu);
            acc(cpu) = static_cast<std::uint8_t>((a << 1) | carry(cpu));
            set_flag(cpu, PSW_CY, (a & 0x80) != 0);
            break;
        }
        case ldc:
            // A game's program space is flash bank 0.
            acc(cpu) =
                cpu.flash[static_cast<std::uint16_t>(((cpu.sfr[5] << 8) | cpu.sfr[4]) + acc(cpu))];
            break;
        case ldf:
            acc(cpu) = cpu.flash[flash_pointer(cpu)];
            break;
        case stf:
            // Flash writes go through only while FPR bit 1 unlocks them; the
            // model writes the byte as it is, without the chip's command
            // sequence or page erase.
            if ((cpu.sfr[VMU_FPR - 0x100] & 2) != 0) {
                cpu.flash[flash_pointer(cpu)] = acc(cpu);
            } else {
                note_unmodelled(cpu, VMU_FPR);
            }
            break;
    }
}

}  // namespace

unsigned vmu_cpu_step(vmu_cpu& cpu) {
    if (cpu.state != vmu_cpu_state::running) {
        return 0;
    }
    unsigned cycles = 0;
    // No interrupt between a stub's jump and the BIOS routine it reaches.
    if ((cpu.sfr[VMU_IE - 0x100] & 0x80) != 0 && !cpu.in_interrupt && !cpu.after_reti &&
        !cpu.rom_source && interrupt_due(cpu) != 0) {
        cycles = take_interrupt(cpu, interrupt_due(cpu));
    } else if ((cpu.sfr[VMU_PCON - 0x100] & 1) != 0) {
        cycles = 1;  // HALT: time passes until an interrupt
    } else if (cpu.rom_source) {
        cycles = bios_call(cpu);
    } else {
        cpu.after_reti = false;
        // Three bytes from the PC on; the flash reaches past 0xFFFF, so an
        // instruction at the end of bank 0 reads no further than bank 1.
        const std::uint8_t* code = cpu.flash.data() + cpu.pc;
        const decoded& d = decode_table[code[0]];
        if (d.cycles == 0) {
            cpu_fault(cpu, "undefined opcode");
            return 0;
        }
        const std::uint16_t start = cpu.pc;
        execute(cpu, d, code);
        if (cpu.state == vmu_cpu_state::fault) {
            cpu.fault_pc = start;
        }
        cycles = d.cycles;
    }
    cpu.cycles += cycles;
    cpu.time_ps += static_cast<std::uint64_t>(cycles) * cpu.cycle_ps;
    timers_advance(cpu, cycles);
    return cycles;
}

void vmu_cpu_run_until(vmu_cpu& cpu, std::uint64_t until_cycle) {
    while (cpu.cycles < until_cycle && vmu_cpu_step(cpu) != 0) {
    }
}
