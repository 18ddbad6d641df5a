// The processor model's speed: runs a loop of everyday instructions (ALU
// forms on d9, #i8 and @Ri, loads and stores, a call and return, DBNZ and
// branches) with timer T1 and the base timer counting, and prints how many
// instructions per second the model ran. It measures; it checks nothing.
//
//   vmu_speed [INSTRUCTIONS]   (default 200 million)
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "cardcpu/cpu/cpu.h"

namespace {

// The loop, hand-assembled so that the benchmark needs nothing but the model.
constexpr std::array<std::uint8_t, 22> loop_program = {
    0x23, 0x18, 0xC0,  // 0000 mov #$C0,T1CNT      both halves of T1 counting
    0x22, 0x21, 0x00,  // 0003 mov #0,$021
    0x81, 0x01,        // 0006 loop: add #1
    0x12, 0x20,        // 0008 st $020
    0x02, 0x20,        // 000A ld $020
    0x64,              // 000C inc @R0
    0xE1, 0x7F,        // 000D and #$7F
    0x08, 0x40,        // 000F call sub
    0x52, 0x21, 0xF2,  // 0011 dbnz $021,loop
    0x01, 0xEF,        // 0014 br loop
};
constexpr std::array<std::uint8_t, 4> subroutine = {
    0xF2, 0x22,  // 0040 sub: xor $022
    0xA4,        // 0042 sub @R0
    0xA0,        // 0043 ret
};

// This process's processor time, in seconds.
double process_seconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t instructions = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200'000'000;
    std::vector<std::uint8_t> image(0x44);
    std::copy(loop_program.begin(), loop_program.end(), image.begin());
    std::copy(subroutine.begin(), subroutine.end(), image.begin() + 0x40);
    vmu_cpu cpu;
    vmu_cpu_reset(cpu);
    vmu_cpu_load_game(cpu, image);
    const auto start = std::chrono::steady_clock::now();
    const double cpu_start = process_seconds();
    for (std::uint64_t i = 0; i < instructions; ++i) {
        vmu_cpu_step(cpu);
    }
    const double cpu_took = process_seconds() - cpu_start;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (cpu.state != vmu_cpu_state::running) {
        std::fprintf(stderr, "vmu_speed: the loop stopped at %04X\n", cpu.pc);
        return 1;
    }
    std::printf("%llu instructions, %llu cycles in %.3f s (%.3f s of processor time)\n",
                static_cast<unsigned long long>(instructions),
                static_cast<unsigned long long>(cpu.cycles), took.count(), cpu_took);
    // The processor-time rate is what the model can do; the wall-clock one
    // falls below it when other programs share the cores.
    std::printf("%.1f million instructions per second (%.1f by the wall clock)\n",
                static_cast<double>(instructions) / cpu_took / 1e6,
                static_cast<double>(instructions) / took.count() / 1e6);
    return 0;
}
