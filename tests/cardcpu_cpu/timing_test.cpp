// When an interrupt is entered, what T1 counts and what HALT costs, in
// small programs of our own. The expected values follow from what the
// authors of a set of timer and interrupt test programs measured on a card
// (their screens, run on real hardware):
//   - T1 counts every cycle; reloaded with 5 and started, it reads 8 after
//     two NOPs and an LD, and 7 after an LD alone: an instruction reads at
//     the end of its first cycle.
//   - T1 started with 0xFF overflows in the first INC after the MOV that
//     starts it, and the interrupt is entered after the second INC: a
//     request is taken up as an instruction's last cycle begins and entered
//     after that instruction, and a timer a MOV starts counts from its end.
//   - A flag that T1 raises in the first cycle of a BN is entered after that
//     BN; one raised in its last cycle after the next (one NOP earlier in
//     the program, the handler read one count more instead of one less).
//   - T1CNT's flag set and cleared again by two instructions still has its
//     interrupt entered; set, it is entered after the instruction after.
//   - A write of IE, IP or PCON holds the interrupt off for one instruction;
//     a write of SP, I01CR, I23CR, T0CNT, BTCR, T1CNT, SCON0, SCON1, P3INT
//     or OCR does not.
//   - Stopping T1 loads its reload, so a value written while it ran is read
//     after the stop; written while stopped, the counter takes it at once.
//   - In HALT, T1's overflow is entered one cycle after it, with no wait of
//     its own: the handler read 8 with the same 7 cycles to its LD as here.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "program.h"

namespace {

// T1's handler: from the entry's first cycle, 2 for the entry, 2 for the
// JMP and 2 for the PUSH before the LD that reads T1L at the end of its
// cycle, 7 counts after the entry began; 21 cycles from the entry to the
// end of the RETI the first time. It keeps T1L in $40 and T1CNT in $41,
// counts itself in $42 and the first time copies the main code's progress
// ($43) to $44. The base timer's handler copies $43 to $47.
const char* const handlers =
    "        .org $1b\n"
    "        jmp btint\n"
    "        .org $2b\n"
    "        jmp t1int\n"
    "        .org $50\n"
    "t1int:  push acc\n"
    "        ld t1l\n"
    "        st $40\n"
    "        ld t1cnt\n"
    "        st $41\n"
    "        ld $42\n"
    "        bnz seen\n"
    "        ld $43\n"
    "        st $44\n"
    "seen:   inc $42\n"
    "        clr1 t1cnt,1\n"
    "        pop acc\n"
    "        reti\n"
    "btint:  push acc\n"
    "        ld $43\n"
    "        st $47\n"
    "        pop acc\n"
    "        clr1 btcr,3\n"
    "        clr1 btcr,1\n"
    "        reti\n";

struct timing_case {
    const char* what;
    std::string main;
    std::vector<std::pair<unsigned, std::uint8_t>> expected;  // RAM address, value
};

// The base timer's interrupt 1 requested by its flag and enable alone
// (BTCR 0x0C: the timer itself stopped), interrupts off; then `write`, with
// `prepare` before IE's master enable: $47 tells whether the request was
// entered before the MOV after `write` (0) or after it (1).
std::string hold_off(const std::string& prepare, const std::string& write) {
    return "        mov #0,$43\n"
           "        mov #$0c,btcr\n" +
           prepare + "        set1 ie,7\n" + write +
           "        mov #1,$43\n"
           "        mov #2,$43\n"
           "        mov #0,btcr\n";
}

std::vector<timing_case> timing_cases() {
    std::vector<timing_case> cases = {
        {"a request raised in an INC's cycle is entered after the next INC",
         "        mov #$ff,t1l\n"
         "        set1 ie,7\n"
         "        mov #$41,t1cnt\n"
         "        inc $43\n"
         "        inc $43\n"
         "        inc $43\n"
         "        inc $43\n"
         "        mov #0,t1cnt\n",
         {{0x44, 2}}},
        {"T1 counts every cycle; an LD reads at the end of its cycle",
         "        mov #5,t1l\n"
         "        mov #$40,t1cnt\n"
         "        nop\n"
         "        nop\n"
         "        ld t1l\n"
         "        st $45\n"
         "        mov #0,t1cnt\n"
         "        mov #6,t1l\n"
         "        mov #$40,t1cnt\n"
         "        ld t1l\n"
         "        st $46\n"
         "        mov #0,t1cnt\n",
         {{0x45, 8}, {0x46, 7}}},
        {"T1 stopped reads the reload written while it ran; stopped, a write sets it",
         "        mov #$40,t1cnt\n"
         "        mov #3,t1l\n"
         "        nop\n"
         "        nop\n"
         "        mov #0,t1cnt\n"
         "        ld t1l\n"
         "        st $45\n"
         "        mov #2,t1l\n"
         "        ld t1l\n"
         "        st $46\n"
         "        mov #$80,t1cnt\n"
         "        mov #4,t1h\n"
         "        mov #0,t1cnt\n"
         "        ld t1h\n"
         "        st $48\n",
         {{0x45, 3}, {0x46, 2}, {0x48, 4}}},
        // From 0 at the MOV's end, 1 after the SET1: the BNs end at odd
        // counts and the one from 255 to 257 overflows in its first cycle,
        // entered after it at 1: the handler reads 8, returns at 22, the BN
        // falls through at 24 and the LD reads 25.
        {"a request raised in a BN's first cycle is entered after that BN",
         "        mov #0,t1l\n"
         "        mov #$41,t1cnt\n"
         "        set1 ie,7\n"
         "wait:   bn $42,0,wait\n"
         "        ld t1l\n"
         "        st $45\n"
         "        mov #0,t1cnt\n",
         {{0x40, 8}, {0x45, 25}}},
        // One cycle later, the overflow falls in a BN's last cycle: entered
        // after the next BN, at 2.
        {"a request raised in a BN's last cycle is entered after the next BN",
         "        mov #0,t1l\n"
         "        mov #$41,t1cnt\n"
         "        set1 ie,7\n"
         "        nop\n"
         "wait:   bn $42,0,wait\n"
         "        ld t1l\n"
         "        st $45\n"
         "        mov #0,t1cnt\n",
         {{0x40, 9}, {0x45, 26}}},
        // T1 runs from 0; the SET1 ends at 1, the CLR1 that takes the
        // request up at 2: the handler reads 9.
        {"a flag set and cleared again is still entered",
         "        set1 ie,7\n"
         "        mov #0,t1l\n"
         "        mov #$41,t1cnt\n"
         "        set1 t1cnt,1\n"
         "        clr1 t1cnt,1\n"
         "        nop\n"
         "        mov #0,t1cnt\n",
         {{0x42, 1}, {0x40, 9}}},
        {"a flag set is entered after the instruction after",
         "        set1 ie,7\n"
         "        mov #0,t1l\n"
         "        mov #$41,t1cnt\n"
         "        set1 t1cnt,1\n"
         "        ld $42\n"
         "        st $46\n"
         "        mov #0,t1cnt\n",
         {{0x46, 0}, {0x42, 1}}},
        // 0 at the MOV's end, 1 after the SET1, 256 at the end of a HALT
        // cycle, entered after the next at 1: the handler reads 8, returns
        // at 22, the LD reads 23.
        {"HALT: entered one cycle after the overflow",
         "        set1 ie,7\n"
         "        mov #0,t1l\n"
         "        mov #$41,t1cnt\n"
         "        set1 pcon,0\n"
         "        ld t1l\n"
         "        st $45\n"
         "        mov #0,t1cnt\n",
         {{0x40, 8}, {0x45, 23}, {0x42, 1}}},
    };
    // The registers whose write holds an interrupt off, and some that do not.
    const std::pair<const char*, std::uint8_t> writes[] = {
        {"ie", 1},    {"ip", 1},    {"pcon", 1}, {"sp", 0},    {"i01cr", 0},
        {"i23cr", 0}, {"t0cnt", 0}, {"btcr", 0}, {"t1cnt", 0}, {"scon0", 0},
        {"scon1", 0}, {"p3int", 0}, {"ocr", 0},
    };
    for (const auto& [name, held] : writes) {
        const std::string reg = name;
        // ACC holds the register's value, IE's with its master enable.
        const std::string prepare =
            "        ld " + reg + "\n" + (reg == "ie" ? "        set1 acc,7\n" : "");
        cases.push_back({name, hold_off(prepare, "        st " + reg + "\n"), {{0x47, held}}});
    }
    return cases;
}

TEST(VmuTiming, ProgramsSeeWhatACardShowed) {
    for (const timing_case& c : timing_cases()) {
        vmu_cpu cpu;
        load_program(cpu, game_source(c.main, handlers));
        run_to_end(cpu, 20'000);
        ASSERT_EQ(cpu.state, vmu_cpu_state::ended) << c.what << ": " << cpu.fault;
        for (const auto& [address, value] : c.expected) {
            EXPECT_EQ(game_ram(cpu, address), value) << c.what << ": $" << std::hex << address;
        }
    }
}

}  // namespace
