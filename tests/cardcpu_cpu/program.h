// Programs for the tests that run assembled code on the model: the vectors,
// the BIOS stubs and an end through game_end, around a test's own code.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "cardcpu/asm/assembler.h"
#include "cardcpu/cpu/cpu.h"

/// The frame of a game: `main` at 0x200, `handlers` placed by their own .org
/// lines (0x13, 0x1B when the test sets none of its own: a base timer tick
/// that only clears its flag), stubs for fm_prd_ex, timer_ex (the card
/// maker's layout: the clock routine returns to $139, its `pop ie`) and
/// game_end, and `data` after the code. Interrupts start off, so that a
/// test's code runs alone until it enables them.
inline std::string game_source(const std::string& main, const std::string& handlers = "",
                               const std::string& data = "") {
    std::string source = "        .include \"sfr.i\"\n        .org 0\n        jmpf main\n";
    source += handlers;
    if (handlers.find(".org $1b") == std::string::npos) {
        source += "        .org $1b\n        clr1 btcr,1\n        reti\n";
    }
    source +=
        "        .org $120\nfm_prd_ex:\n        not1 ext,0\n        jmpf fm_prd_ex\n        ret\n"
        "        .org $130\ntimer_ex:\n        push ie\n        clr1 ie,7\n        not1 ext,0\n"
        "        jmpf timer_ex\n        pop ie\n        ret\n"
        "        .org $1f0\ngoodbye:\n        not1 ext,0\n        jmpf goodbye\n"
        "        .org $200\nmain:\n        clr1 ie,7\n";
    source += main;
    source += "        jmp goodbye\n";
    source += data;
    return source;
}

/// A byte of a game's RAM: bank 1, where the system hands a game over.
inline std::uint8_t game_ram(const vmu_cpu& cpu, unsigned address) {
    return cpu.ram[0x100 + address];
}

/// Assembles `source` into a reset machine; the test fails on any error.
inline void load_program(vmu_cpu& cpu, const std::string& source) {
    const vmu_asm_result result = vmu_assemble_text(source, "test.s", {});
    for (const vmu_asm_error& e : result.errors) {
        ADD_FAILURE() << e.file << ":" << e.line << ": " << e.message;
    }
    vmu_cpu_reset(cpu);
    ASSERT_TRUE(vmu_cpu_load_game(cpu, result.image));
}

/// Runs until game_end, a fault, or `limit` cycles.
inline void run_to_end(vmu_cpu& cpu, std::uint64_t limit = 1'000'000) {
    vmu_cpu_run_until(cpu, limit);
}
