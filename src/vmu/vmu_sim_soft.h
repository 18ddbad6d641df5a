// The scripted protocol card (vmu_sim) behind the one interface of the
// software cards, so that the emu backend runs it as it runs every other
// card, counting or on the one real-time runner (card_realtime).
//
// Counting, the card's time is its status reads: each read is one tick, the
// PC's delay unit is not the card's and waits as on a real machine, masking
// is a flag the card records with every access, and the sleep only counts.
//
// In real time each level lasts its hold in µs of the card's time, and two
// rules make the card's time in the card, not in a thread of its own:
//  - the card cannot know when the tool starts to poll, and the tool has
//    pauses of its own between frames (progress output, the wait after the
//    ready signal, the delay unit that ends a sent byte); so the first level
//    after the ready signal and after every byte from the PC lasts until the
//    tool has read the register twice during it (pc_reads), as in the
//    counting card, whose time passes only with reads. Every other level
//    lasts its time exactly, and a tool that does not poll through it loses
//    the bit, as with a real card;
//  - a card that samples its input pins (sample_us) sees only what the
//    register holds at each sampling instant of its time; a level that falls
//    between two is lost.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "vmu/soft_card.h"
#include "vmu/vmu_realtime.h"
#include "vmu/vmu_sim.h"

struct vmu_sim_soft final : soft_card {
    /// The card's script, faults and record of what the PC did.
    vmu_sim vmu;
    /// In real time: the hold of a level, the sampling period.
    vmu_realtime_config config;
    /// What the card measured in its last real-time run, the runner's
    /// figures added by whoever ran it.
    vmu_realtime_result result;

    // Counting.
    int acquire(std::uint16_t base) override;
    void release() override;
    std::uint8_t status_read() override;
    void data_write(std::uint8_t value) override { vmu_sim_data_write(vmu, value); }
    void delay(unsigned /*floor_us*/) override {}
    void sleep(unsigned milliseconds) override { vmu.slept_ms += milliseconds; }
    void set_masked(bool masked) override { vmu.masked = masked; }
    void stray(std::uint16_t address, bool write) override {
        vmu.stray.push_back({address, write});
    }
    [[nodiscard]] bool waits_delay() const override { return true; }

    // Real time (start too resets the card's time, at every acquire).
    void start() override;
    void reserve() override;
    [[nodiscard]] card_ps now() const override { return now_ps; }
    [[nodiscard]] card_ps next_event() const override;
    void run_to(card_ps until) override;
    void set_data(std::uint8_t value) override;
    [[nodiscard]] std::uint8_t status_lines() const override {
        return vmu_sim_status_lines(vmu, ready);
    }
    [[nodiscard]] bool finished() const override;
    [[nodiscard]] card_ps read_cost() const override { return 0; }
    [[nodiscard]] bool watches_reads() const override { return true; }
    void pc_reads(std::uint64_t reads, std::uint8_t last_read) override;

    static constexpr card_ps NO_EVENT = std::numeric_limits<card_ps>::max();

    // The card's timing in real time (internal).
    card_ps now_ps = 0;
    bool open = false;   // the PC has raised D3
    bool ready = false;  // Select is low
    bool due = false;    // the card moves on at its present time
    card_ps ready_at = 0;
    card_ps finished_at = -1;
    card_ps level_end = 0;
    bool hold_for_read = false;  // the current or next level waits for the tool to poll
    bool level_seen = false;     // a read of the tool saw the level
    std::uint64_t seen_by = 0;   // the number of that read
    std::uint64_t reads = 0;     // the tool's status reads, as last told
    int pin = -1;                // what the data register holds, not yet sampled
    int fed = -1;                // the last data value given to the card
    card_ps sample_at = NO_EVENT;
    std::uint64_t gap_reads = 0;
    card_ps gap_first = 0;
    card_ps gap_last = 0;
};

/// What the card measured in its last real-time run, a line per figure
/// ("finished 1", "transfer_ns ..."), then a line per complaint of the card
/// about the PC: the report a program may store.
std::string vmu_realtime_report(const vmu_sim_soft& card);
