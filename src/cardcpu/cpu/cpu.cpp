// The step function: one instruction decoded through the shared instruction
// table and run by the handler of its operation (execute_*.cpp), and the
// clock and timers advanced by its cycles. It also takes interrupts, waits
// out HALT and hands ROM entries to the BIOS routines.
#include "cardcpu/cpu/cpu.h"

#include <array>

#include "cardcpu/cpu/cpu_internal.h"
#include "cardcpu/cpu/execute.h"
#include "cardcpu/cpu/isa.h"
#include "cardcpu/cpu/timers.h"

namespace {

// Every operation's handler, by the operation's number.
std::array<vmu_handler, 256> handlers_by_op() {
    std::array<vmu_handler, 256> by_op{};
    for (const auto family : {vmu_data_handlers(), vmu_alu_handlers(), vmu_branch_handlers()}) {
        for (const vmu_op_handler& entry : family) {
            by_op[static_cast<std::uint8_t>(entry.op)] = entry.run;
        }
    }
    return by_op;
}

std::array<vmu_decoded, 256> make_decode_table() noexcept {
    const std::array<vmu_handler, 256> by_op = handlers_by_op();
    std::array<vmu_decoded, 256> t{};
    for (unsigned opcode = 0; opcode < 256; ++opcode) {
        const vmu_insn_form* row = vmu_decode(static_cast<std::uint8_t>(opcode));
        const vmu_handler run =
            row == nullptr ? nullptr : by_op[static_cast<std::uint8_t>(row->op)];
        if (run == nullptr) {
            continue;  // cycles 0: the step function faults on it
        }
        vmu_decoded& d = t[opcode];
        d = {run, row->form, row->size, row->cycles, 0, 0, false};
        switch (row->form) {
            case vmu_form::d9:
            case vmu_form::imm_d9:
            case vmu_form::d9_r8:
                d.address_bit = 0x01;
                d.address_scale = 0x80;  // with the x 2: bit 0 to bit 8
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
const std::array<vmu_decoded, 256> decode_table = make_decode_table();

// Cycles an interrupt's entry takes: the pushes and the jump of a CALLF.
constexpr unsigned INTERRUPT_CYCLES = 2;

// Enters the interrupt taken up: its vector, the level it serves.
unsigned enter_interrupt(vmu_cpu& cpu) {
    push_return(cpu, cpu.pc);
    cpu.pc = cpu.pending_vector;
    cpu.serving |= cpu.pending_level;
    cpu.pending_vector = 0;
    cpu.pending_level = 0;
    sfr_at(cpu, vmu_sfr("PCON")) &= static_cast<std::uint8_t>(~vmu_sfr_bit_mask("HALT"));
    return INTERRUPT_CYCLES;
}

// The request standing is taken up, to be entered at the next step, unless
// the instruction held interrupts off.
void take_up(vmu_cpu& cpu, vmu_interrupt standing) {
    if (standing.vector != 0 && !cpu.hold_off) {
        cpu.pending_vector = standing.vector;
        cpu.pending_level = standing.level;
    }
}

// T0 and T1 counted through the cycles of an instruction after its first,
// a half that the instruction started not counting them: it starts at the
// instruction's end.
void count_rest(vmu_cpu& cpu, unsigned cycles, std::uint8_t t0_before, std::uint8_t t1_before) {
    std::uint8_t& t0cnt = sfr_at(cpu, vmu_sfr("T0CNT"));
    std::uint8_t& t1cnt = sfr_at(cpu, vmu_sfr("T1CNT"));
    if (((t0cnt | t1cnt) & 0xC0) == 0) {
        return;
    }
    const auto t0_started = static_cast<std::uint8_t>(t0cnt & ~t0_before & 0xC0);
    const auto t1_started_now = static_cast<std::uint8_t>(t1cnt & ~t1_before & 0xC0);
    if ((t0_started | t1_started_now) == 0) {
        count_t0_t1(cpu, cycles);
        return;
    }
    t0cnt &= static_cast<std::uint8_t>(~t0_started);
    t1cnt &= static_cast<std::uint8_t>(~t1_started_now);
    timers_count(cpu, cycles);
    t0cnt |= t0_started;
    t1cnt |= t1_started_now;
}

// Runs the instruction at cpu.pc; its cycles, or 0 when it is undefined.
//
// Within an instruction (measured on a card by the authors of the timer and
// interrupt test programs): it reads its operands at the end of its first
// cycle and writes its results at the end of its last, and it takes up the
// interrupt requested as its last cycle begins, which is entered after it.
// So a request that T1 raises in the one cycle of a NOP is entered only
// after the instruction that follows, and one raised in the first cycle of
// a BN after that BN; a flag set and cleared again by two instructions
// still has its interrupt entered.
unsigned execute(vmu_cpu& cpu) {
    cpu.hold_off = false;
    // Three bytes from the PC on; the flash reaches past 0xFFFF, so an
    // instruction at the end of bank 0 reads no further than bank 1.
    const std::uint8_t* code = cpu.flash.data() + cpu.pc;
    const vmu_decoded& d = decode_table[code[0]];
    if (d.cycles == 0) {
        cpu_fault(cpu, "undefined opcode");
        return 0;
    }
    vmu_interrupt standing{0, 0};
    if (d.cycles == 1) {
        standing = interrupt_to_take(cpu);
    }
    timers_count(cpu, 1);
    if (d.cycles == 2) {
        standing = interrupt_to_take(cpu);
    }
    const std::uint8_t t0_before = sfr_at(cpu, vmu_sfr("T0CNT"));
    const std::uint8_t t1_before = sfr_at(cpu, vmu_sfr("T1CNT"));
    const std::uint16_t start = cpu.pc;
    cpu.pc = static_cast<std::uint16_t>(start + d.size);
    d.run(cpu, d, code);
    if (cpu.state == vmu_cpu_state::fault) {
        cpu.fault_pc = start;
        return d.cycles;
    }
    if (d.cycles > 2) {
        count_rest(cpu, d.cycles - 2U, t0_before, t1_before);
        standing = interrupt_to_take(cpu);
    }
    if (d.cycles > 1) {
        count_rest(cpu, 1, t0_before, t1_before);
    }
    take_up(cpu, standing);
    return d.cycles;
}

}  // namespace

unsigned vmu_cpu_step(vmu_cpu& cpu) {
    if (cpu.state != vmu_cpu_state::running) {
        return 0;
    }
    std::uint8_t& pcon = sfr_at(cpu, vmu_sfr("PCON"));
    if ((pcon & vmu_sfr_bit_mask("HOLD")) != 0) {
        // HOLD stops every oscillator, the quartz too: time passes for the
        // caller, nothing counts, until a key or an external interrupt.
        if (!hold_released(cpu)) {
            cpu.cycles += 1;
            cpu.time_ps += cpu.cycle_ps;
            return 1;
        }
        pcon &= static_cast<std::uint8_t>(~vmu_sfr_bit_mask("HOLD"));
    }
    unsigned cycles = 0;
    // No interrupt between a stub's jump and the BIOS routine it reaches:
    // one taken up there is entered when the routine is back in the flash.
    if (cpu.pending_vector != 0 && !cpu.rom_source) {
        cycles = enter_interrupt(cpu);
        timers_count(cpu, cycles);
    } else if ((pcon & vmu_sfr_bit_mask("HALT")) != 0) {
        // HALT: a cycle at a time, each taking up the request standing as
        // it begins, as a one-cycle instruction would; the entry follows
        // with no further wait (measured on a card, as execute's timing).
        cpu.hold_off = false;
        take_up(cpu, interrupt_to_take(cpu));
        cycles = 1;
        timers_count(cpu, cycles);
    } else if (cpu.rom_source) {
        cycles = bios_call(cpu);
        timers_count(cpu, cycles);
    } else {
        cycles = execute(cpu);
        if (cycles == 0) {
            return 0;
        }
    }
    cpu.cycles += cycles;
    cpu.time_ps += static_cast<std::uint64_t>(cycles) * cpu.cycle_ps;
    units_advance(cpu, cycles);
    return cycles;
}

void vmu_cpu_run_until(vmu_cpu& cpu, std::uint64_t until_cycle) {
    while (cpu.cycles < until_cycle && vmu_cpu_step(cpu) != 0) {
    }
}
