// Small programs, assembled and run on the model: a counter, a table read
// with LDC, a timer interrupt, an LDF read from flash bank 1, a BIOS page
// read, HALT woken by the base timer, and "hello" drawn on the screen.
#include <gtest/gtest.h>

#include <vector>

#include "program.h"

namespace {

TEST(VmuPrograms, CounterSumsAndTakesItsCycles) {
    vmu_cpu cpu;
    load_program(cpu, game_source("        mov #0,acc\n"
                                  "        mov #10,$31\n"
                                  "loop:   add $31\n"
                                  "        dbnz $31,loop\n"
                                  "        st $30\n"));
    run_to_end(cpu);
    ASSERT_EQ(cpu.state, vmu_cpu_state::ended) << cpu.fault;
    EXPECT_EQ(game_ram(cpu, 0x30), 55);
    EXPECT_EQ(game_ram(cpu, 0x31), 0);
    // jmpf main 2, clr1 1, mov 2 + 2, ten times add 1 + dbnz 2, st 1, jmp 2,
    // the stub's not1 1 and jmpf 2.
    EXPECT_EQ(cpu.cycles, 2U + 1 + 4 + 30 + 1 + 2 + 3);
}

TEST(VmuPrograms, LdcLoopOverATable) {
    vmu_cpu cpu;
    load_program(cpu, game_source("        mov #<table,trl\n"
                                  "        mov #>table,trh\n"
                                  "        mov #0,$32\n"
                                  "        mov #0,$33\n"
                                  "        mov #4,$34\n"
                                  "next:   ld $32\n"
                                  "        ldc\n"
                                  "        add $33\n"
                                  "        st $33\n"
                                  "        inc $32\n"
                                  "        dbnz $34,next\n",
                                  "", "table:  .byte 1, 2, 3, $F0\n"));
    run_to_end(cpu);
    ASSERT_EQ(cpu.state, vmu_cpu_state::ended) << cpu.fault;
    EXPECT_EQ(game_ram(cpu, 0x33), 0xF6);
    EXPECT_EQ(game_ram(cpu, 0x32), 4);
}

// T0L counts every 256 cycles (T0PRR 0) from its reload 0xF0: an interrupt
// every 16 counts, 4096 cycles, which the handler counts in $40 while the
// main loop sleeps in HALT.
TEST(VmuPrograms, TimerInterruptWakesHalt) {
    vmu_cpu cpu;
    load_program(cpu, game_source("        mov #$81,ocr\n"  // the RC clock: HALT counts it
                                  "        mov #0,t0prr\n"
                                  "        mov #$F0,t0lr\n"
                                  "        mov #$41,t0cnt\n"
                                  "        set1 ie,7\n"
                                  "sleep:  set1 pcon,halt\n"
                                  "        br sleep\n",
                                  "        .org $13\n"
                                  "        inc $40\n"
                                  "        clr1 t0cnt,1\n"
                                  "        reti\n"));
    run_to_end(cpu, 4096 * 7 + 100);
    ASSERT_EQ(cpu.state, vmu_cpu_state::running) << cpu.fault;
    EXPECT_EQ(game_ram(cpu, 0x40), 7);
    EXPECT_EQ(cpu.sfr[vmu_sfr("SP") - 0x100], 0x7F);  // every interrupt returned
    EXPECT_LT(cpu.time_ps, 500'000'000'000ULL);       // the base timer never ticked
}

TEST(VmuPrograms, BaseTimerTicksEveryHalfSecondOfCardTime) {
    vmu_cpu cpu;
    load_program(cpu, game_source("        set1 ie,7\n"
                                  "sleep:  set1 pcon,halt\n"
                                  "        br sleep\n",
                                  "        .org $1b\n"
                                  "        inc $41\n"
                                  "        call timer_ex\n"
                                  "        reti\n"));
    // 1.2 s on the RC clock at /12.
    const std::uint64_t cycles = 1'200'000'000'000ULL / vmu_cpu_cycle_ps(cpu);
    run_to_end(cpu, cycles);
    ASSERT_EQ(cpu.state, vmu_cpu_state::running) << cpu.fault;
    EXPECT_EQ(game_ram(cpu, 0x41), 2);
    EXPECT_EQ(cpu.sfr[vmu_sfr("BTCR") - 0x100] & 0x02, 0);  // timer_ex cleared the flag
}

TEST(VmuPrograms, LdfReadsFlashBank1) {
    vmu_cpu cpu;
    load_program(cpu, game_source("        mov #$12,trh\n"
                                  "        mov #$34,trl\n"
                                  "        ldf\n"
                                  "        st $30\n"
                                  "        mov #1,fpr\n"
                                  "        ldf\n"
                                  "        st $31\n"));
    cpu.flash[0x1234] = 0x11;
    cpu.flash[0x11234] = 0x5A;
    run_to_end(cpu);
    ASSERT_EQ(cpu.state, vmu_cpu_state::ended) << cpu.fault;
    EXPECT_EQ(game_ram(cpu, 0x30), 0x11);
    EXPECT_EQ(game_ram(cpu, 0x31), 0x5A);
}

// fm_prd_ex with the page in RAM bank 1 (0x7D bank, 0x7E/0x7F address).
void read_page(vmu_cpu& cpu, std::uint8_t high, std::uint8_t low) {
    const std::string args =
        "        set1 psw,rambk0\n"
        "        mov #1,$7d\n"
        "        mov #" +
        std::to_string(high) +
        ",$7e\n"
        "        mov #" +
        std::to_string(low) +
        ",$7f\n"
        "        clr1 psw,rambk0\n"
        "        call fm_prd_ex\n"
        "        st $30\n";
    load_program(cpu, game_source(args));
    for (std::size_t i = 0; i < VMU_FLASH_PAGE; ++i) {
        cpu.flash[0x10000 + 0x1F80 + i] = static_cast<std::uint8_t>(i * 3 + 1);
    }
    run_to_end(cpu);
}

TEST(VmuPrograms, BiosPageRead) {
    vmu_cpu cpu;
    read_page(cpu, 0x1F, 0x80);
    ASSERT_EQ(cpu.state, vmu_cpu_state::ended) << cpu.fault;
    EXPECT_EQ(cpu.ram[0x30], 0);  // ACC: done
    for (std::size_t i = 0; i < VMU_FLASH_PAGE; ++i) {
        ASSERT_EQ(cpu.ram[256 + 0x80 + i], static_cast<std::uint8_t>(i * 3 + 1)) << i;
    }
}

TEST(VmuPrograms, BiosRefusesAPageOffItsBoundary) {
    vmu_cpu cpu;
    read_page(cpu, 0x1F, 0x81);
    ASSERT_EQ(cpu.state, vmu_cpu_state::ended) << cpu.fault;
    EXPECT_EQ(cpu.ram[0x30], 0xFF);
    EXPECT_EQ(cpu.ram[256 + 0x80], 0);  // nothing read
}

TEST(VmuPrograms, EnteringTheRomElsewhereFaultsAtTheJump) {
    vmu_cpu cpu;
    load_program(cpu, game_source("        not1 ext,0\n"
                                  "        jmpf $0456\n"));
    run_to_end(cpu);
    ASSERT_EQ(cpu.state, vmu_cpu_state::fault);
    EXPECT_EQ(cpu.fault_pc, 0x0456);
    EXPECT_NE(cpu.fault.find("0456"), std::string::npos) << cpu.fault;
}

TEST(VmuPrograms, UnmodelledRegistersAreNamed) {
    vmu_cpu cpu;
    load_program(cpu, game_source("        mov #$10,scon0\n"
                                  "        mov #1,vlreg\n"
                                  "        ld $10A\n"
                                  "        mov #$C0,isl\n"));  // the reset value: modelled
    run_to_end(cpu);
    const std::vector<std::string> warnings = vmu_cpu_notes(cpu);
    ASSERT_EQ(warnings.size(), 3U);
    EXPECT_EQ(warnings[0].rfind("register 10A", 0), 0U) << warnings[0];
    EXPECT_EQ(warnings[1].rfind("SCON0: ", 0), 0U) << warnings[1];
    EXPECT_EQ(warnings[2].rfind("VLREG: ", 0), 0U) << warnings[2];
}

}  // namespace
