// The software card that runs the card's own program: the processor model
// (cardcpu/cpu) with its port 1 joined to the simulated cable the way the sender
// wires it, so that the unchanged tool talks to the very program a user puts
// on a real card.
//
// The cable, as cable.h wires the card's end: the PC's D0, D1 and D2 drive
// P15, P14 and P11, its D3 drives P73 (a peer present); the card's P12, P10
// and P13 drive Ack, Busy and Select; P70, the console's 5 V, is high only
// for a card that sits in a controller. A line the card does not drive
// reads high, as a PC port pulls its status inputs up.
//
// Counting mode keeps the card's time by what the tool does: every status
// read advances the card by `cycles_per_read` cycles, and every delay unit
// the tool waits (the lead before a byte it sends, and the unit it holds
// each level on D0) by the unit's floor, or `cycles_per_delay` cycles when
// the floor is 0: the tool reads no status while it sends, and the card
// would otherwise never see the PC's levels. A write that moves D0 costs
// nothing beyond the unit that follows it; the PC's other writes (its echo
// on D2) cost what a read does, and a sleep advances the card by the time
// slept. The same tool run gives the same card run, cycle
// for cycle. A seeded pause (vmu/pc_pause) makes an access now and then come
// late, the card running on meanwhile, as on a loaded PC.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cable/cable.h"
#include "cardcpu/cpu/cpu.h"
#include "vmu/pc_pause.h"
#include "vmu/soft_card.h"

/// A button held down for the user from `at_ms` of the card's time, for
/// `hold_ms`.
struct cpu_card_press {
    std::uint8_t buttons = 0;  // VMU_BUTTON_* bits
    double at_ms = 0;
    double hold_ms = 100;
};

/// The cable's lines from one moment of the card's time on.
struct cpu_card_lines {
    std::uint64_t time_ps = 0;
    std::uint8_t status = 0;  // the raw status register, as cpu_card_status_lines
    std::uint8_t data = 0;    // the PC's data register
};

struct vmu_cpu_card {
    vmu_cpu cpu;

    // Configuration.
    unsigned cycles_per_read = 2;
    unsigned cycles_per_delay = 50;       // a delay unit whose floor is 0
    std::vector<cpu_card_press> presses;  // in order of at_ms
    bool docked = false;
    pc_pause pause;  // the PC's pauses; none unless set

    // Recording.
    std::uint8_t data = 0;         // the PC's data register as last written
    std::uint8_t ever_driven = 0;  // P1 bits the card has driven at any time
    std::uint64_t status_reads = 0;
    std::uint64_t data_writes = 0;
    bool masked = false;
    std::uint64_t unmasked_reads = 0;  // status reads made while the tool was unmasked
    std::uint64_t target_cycle = 0;    // where the card's time has been taken to
    card_ps opened_ps = -1;            // the card's time at the PC's first data write
    /// Where set, every change of the lines is appended, the card's after
    /// the instruction that made it and the PC's as it writes, so that a
    /// test can time the card's levels on the card's own clock.
    std::vector<cpu_card_lines>* line_log = nullptr;
};

/// Resets the processor as the system hands a game over, the flash kept.
void cpu_card_reset(vmu_cpu_card& card);

/// Runs the card until its own time reaches `ms` after reset, pressing the
/// buttons on the way, with the cable's lines as they are.
void cpu_card_run_to_ms(vmu_cpu_card& card, double ms);

/// Runs the card for `cycles` more cycles.
void cpu_card_run(vmu_cpu_card& card, std::uint64_t cycles);

/// Runs one instruction (or interrupt entry, BIOS routine, HALT cycle), the
/// buttons pressed as scheduled and the driven pins recorded.
void cpu_card_step(vmu_cpu_card& card);

/// Puts the PC's data lines on the card's pins, without letting time pass.
void cpu_card_set_data(vmu_cpu_card& card, std::uint8_t value);

/// The bits of port 1 on the cable (CABLE_CARD_P1_LINES) that the card
/// drives now.
std::uint8_t cpu_card_driven(const vmu_cpu_card& card);

/// The raw status register the card's lines give (Busy inverted on bit 7,
/// the unused bits high), without advancing the card.
std::uint8_t cpu_card_status_lines(const vmu_cpu_card& card);

/// Counting mode: the PC reads the status register.
std::uint8_t cpu_card_status_read(vmu_cpu_card& card);

/// Counting mode: the PC writes the data register.
void cpu_card_data_write(vmu_cpu_card& card, std::uint8_t value);

/// Counting mode: the PC waits one delay unit whose floor is `floor_us`.
void cpu_card_delay(vmu_cpu_card& card, unsigned floor_us);

/// Counting mode: the PC sleeps.
void cpu_card_sleep(vmu_cpu_card& card, unsigned milliseconds);

/// The screen as 32 lines of 48 characters, '#' dark and '.' light, each
/// line ending in a newline.
std::string cpu_card_lcd(const vmu_cpu& cpu);

/// The card behind the one interface of the software cards. In real time it
/// may change its lines at any instruction, so its next event is its next
/// step, and a level the PC held while the card's thread was paused lasts
/// 10 µs of the card's time, longer than the sender's 5 µs poll. A status
/// read of a real port costs the card's cycles per read, in µs at the
/// sender's clock.
struct cpu_card_soft final : soft_card {
    vmu_cpu_card& card;
    explicit cpu_card_soft(vmu_cpu_card& c) : card(c) {}

    std::uint8_t status_read() override { return cpu_card_status_read(card); }
    void data_write(std::uint8_t value) override { cpu_card_data_write(card, value); }
    void delay(unsigned floor_us) override { cpu_card_delay(card, floor_us); }
    void sleep(unsigned milliseconds) override { cpu_card_sleep(card, milliseconds); }
    void set_masked(bool masked) override { card.masked = masked; }
    [[nodiscard]] card_ps now() const override { return static_cast<card_ps>(card.cpu.time_ps); }
    [[nodiscard]] card_ps next_event() const override { return now() + 1; }
    void run_to(card_ps until) override;
    void set_data(std::uint8_t value) override;
    [[nodiscard]] std::uint8_t status_lines() const override { return cpu_card_status_lines(card); }
    [[nodiscard]] bool finished() const override {
        return card.cpu.state != vmu_cpu_state::running;
    }
    [[nodiscard]] card_ps look_every() const override { return 10'000'000; }
    [[nodiscard]] card_ps read_cost() const override {
        return card_ps{card.cycles_per_read} * 1'000'000;
    }
};
