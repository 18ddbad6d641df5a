// One software card on the simulated cable, whatever model it is: the card's
// own Copy, the card receiving, the processor card, and whatever card comes
// next. A card is one record behind this interface; the emu backend runs it
// either counting (each of the PC's operations moves the card's time by what
// it costs) or in real time (card_realtime.h paces the card's time by the
// clock), and needs nothing else of it.
#pragma once

#include <cstdint>

#include "clock/time_units.h"

struct soft_card {
    soft_card() = default;
    soft_card(const soft_card&) = delete;
    soft_card& operator=(const soft_card&) = delete;
    virtual ~soft_card() = default;

    /// The PC acquires the port at `base`: 0, or the errno with which the
    /// acquire fails (a card that stands for a port the PC cannot have).
    virtual int acquire(std::uint16_t /*base*/) { return 0; }
    /// The port was acquired: the card begins, from its time 0 where it
    /// keeps one of its own.
    virtual void start() {}
    /// Before a real-time run: room for everything the card records, so that
    /// no buffer grows while its thread runs, and the card's own settings
    /// for a run by the clock.
    virtual void reserve() {}
    /// The PC let go of the port; in real time, after the card's thread
    /// stopped.
    virtual void release() {}

    // Counting: the PC's operations, each at the card's present time.
    virtual std::uint8_t status_read() = 0;
    virtual void data_write(std::uint8_t value) = 0;
    /// The PC waits one delay unit whose floor is `floor_us`.
    virtual void delay(unsigned floor_us) = 0;
    virtual void sleep(unsigned milliseconds) = 0;
    /// The PC masks or unmasks its interrupts; most cards see nothing of it.
    virtual void set_masked(bool /*masked*/) {}
    /// The PC touched a register the link never uses; a card that records
    /// the PC's faults notes it.
    virtual void stray(std::uint16_t /*address*/, bool /*write*/) {}
    /// The PC's delay unit is not the card's: it waits as on a real machine
    /// and `delay` is never called (a card whose time is its status reads).
    [[nodiscard]] virtual bool waits_delay() const { return false; }

    // Real time: the card's time, its next event and the lines it drives.
    [[nodiscard]] virtual card_ps now() const = 0;
    /// When the card next changes something by itself; at most a step
    /// ahead for a card that may change its lines at any step.
    [[nodiscard]] virtual card_ps next_event() const = 0;
    /// Runs the card's own events up to its time `until`.
    virtual void run_to(card_ps until) = 0;
    /// The PC's data register, written at the card's present time.
    virtual void set_data(std::uint8_t value) = 0;
    /// The raw status register the card's lines give now.
    [[nodiscard]] virtual std::uint8_t status_lines() const = 0;
    /// No event will come whatever the PC does.
    [[nodiscard]] virtual bool finished() const = 0;
    /// The most card time between two looks at the PC's writes when the
    /// card has fallen behind the clock, so that each level the PC held
    /// lasts at least this long for the card; 0: every write is taken at
    /// once, the card recording each edge as it comes.
    [[nodiscard]] virtual card_ps look_every() const { return 0; }
    /// What one status read of a real port costs the PC, spent before it.
    [[nodiscard]] virtual card_ps read_cost() const = 0;
    /// The card holds a level until the PC has read it: it is told the PC's
    /// status reads after each publication of its lines.
    [[nodiscard]] virtual bool watches_reads() const { return false; }
    /// The PC's status reads so far, and what the last of them read.
    virtual void pc_reads(std::uint64_t /*reads*/, std::uint8_t /*last_read*/) {}
};
