// The card's own file manager sending a file with Copy: a model of what the
// card does on the cable when the user copies a file to "a second card", and
// the PC plays that second card. Every card already holds this program, so
// it is the card a user meets first.
//
// The model keeps the card's time in picoseconds. Its own steps are counted
// in cycles of its RC oscillator divided by six (about 146 kHz nominal, so a
// cycle lasts about 6.8 µs); the base timer ticks every 0.5 s from the
// quartz, whatever the RC clock does. What it knows of the card, and how
// sure that is, comes from the card's published system software and reports
// of the card-to-card link:
//
// - SIO0 is the master: SCK0 (the PC's Ack) idles high, each bit lasts 16
//   cycles, the data on SO0 (the PC's Busy) changes as SCK0 falls, and SI0
//   (the PC's D2, its echo) is sampled as SCK0 rises, 8 cycles later.
// - The PC's bytes arrive on SIO1, clocked by the PC's D0 (bit on D1, MSB
//   first, taken at each rising edge), but only while the card listens.
// - SO1 (the PC's Select) goes low 25 ms after A goes down and 6,104 cycles
//   (42 ms at 872 kHz) before the first clock edge: the only ready signal.
// - Gaps: 72 cycles between bytes; from the end of the PC's answer to the
//   next header 154 to 1,875 cycles, by the frame that follows (the card
//   reads its flash before a data frame). After the PC's reply to a header
//   the card sleeps until the next base-timer tick, so a frame costs about
//   half a second.
// - The echo: in short frames the byte taken on SI0 during each byte from
//   the block code to the trailer must equal the byte before it; in data
//   frames only during the code and the first data byte.
// - Each awaited byte times out after six base-timer ticks (2.5 to 3 s); a
//   0x00 where an answer is due is passed over. No answer counts as 0x0A:
//   to the start frame "Not enough free memory", to the name frame "Same
//   file exists". Any other fault (a reply not 0xE0 or none, an echo
//   mismatch, a later frame refused or not answered) has the card wait once
//   more for an answer: 0x0C brings the abort frame, anything else or
//   nothing "Copy failed" without it.
//
// Not confirmed on a real card, and marked where they are used: the cycle
// counts of the gaps and of re-arming SIO1, the exact RC frequency of a
// given card, and the screens' texts of other system versions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vmu/card_time.h"
#include "vmu/soft_card.h"
#include "vmu/vmu_sim.h"

/// What the card's screen shows: the file manager's messages around Copy.
enum class copy_screen {
    copy_prompt,        // "Copy ?", waiting for A
    connect_vm,         // A pressed without a second card on the cable
    unable_to_copy,     // the file is copy-protected
    copying,            // frames on the wire
    copied,             // the last frame went out
    copy_failed,        // a refused or garbled frame, an echo mismatch, a timeout
    not_enough_memory,  // the start frame refused
    same_file_exists,   // the name frame refused
};

/// The screen's words, as the card shows them.
const char* copy_screen_text(copy_screen screen);

/// The abort frame the card sends after a fault, when the PC answers it
/// 0x0C: 10 0B 00 FF, and after it the bytes from the fifth on of the last
/// start, name or directory frame (one after the start frame, eleven after
/// the name or directory frame).
inline constexpr std::uint8_t COPY_CODE_ABORT = 0x0B;

/// The 12 bytes the directory frame carries: the directory entry's bytes
/// 0x10 to 0x1B, the stamp in BCD (century to second, then the weekday), the
/// size in blocks and the header's block offset, both little-endian (the
/// header at block 1 of a game, 0 of a data file).
directory_tail copy_directory_bytes(const vmu_file& file);

/// The frames Copy sends for `file`, in the cable's order with the cable's
/// trailers (cable.h): start, name, a data and a flash frame for each 128
/// bytes, the directory, and a last flash frame that it does not wait to
/// have answered. `directory` is what the directory frame carries.
std::vector<vmu_frame> copy_frames(const vmu_file& file, const directory_tail& directory);

struct copy_card_config {
    unsigned rc_khz = 879;                    // the RC oscillator, 600 to 1200 kHz
    card_ps press_ps = 50'000'000'000;        // when the user presses A on "Copy ?"
    card_ps tick_phase_ps = 250'000'000'000;  // the first base-timer tick
    bool console_power = false;               // the console's 5 V on P7.0: the card is docked
    bool peer_present = true;             // P7.3 follows the PC's D3 (false: that wire is missing)
    bool select_wired = true;             // SO1 reaches the PC's Select (false: no ready signal)
    bool copy_protected = false;          // the file's copy byte is 0xFF
    std::int64_t stall_byte = VMU_NEVER;  // stop clocking before this byte (counted from 0)
};

/// What the card is doing between two of its own events.
enum class copy_phase {
    before_press,  // the user has not pressed A yet
    pressed,       // A is down, SO1 not low yet
    setup,         // SO1 low, the first clock edge to come
    bit_low,       // SCK0 low: the PC writes its echo bit
    bit_high,      // SCK0 high: the PC reads the bit; another bit follows
    byte_end,      // SCK0 high with the byte's last bit
    gap,           // between two bytes or two frames
    arming,        // the card is setting up SIO1 to listen
    listening,     // SIO1 takes the PC's byte
    asleep,        // waiting for a base-timer tick after the PC's reply
    ended,         // the card shows the end of Copy, its pins floating again
    stalled,       // the card stopped clocking (a fault of the test)
};

/// One byte the card took on SIO1, and the card's time when it was complete.
struct copy_pc_byte {
    std::uint8_t value;
    card_ps at_ps;
};

/// The whole card: configuration, the frames, its progress and what it saw.
/// Reset it by assigning a fresh record.
struct copy_card {
    copy_card_config config;
    std::vector<vmu_frame> frames;
    copy_pc_time pc;  // counting mode only

    // The card's time and what it does next.
    bool started = false;  // copy_card_start has run
    card_ps now_ps = 0;
    card_ps next_event_ps = 0;  // set by copy_card_start
    copy_phase phase = copy_phase::before_press;
    copy_screen screen = copy_screen::copy_prompt;

    // The lines, as pin levels.
    bool select_high = true;  // floating pins read high through the cable's pull-ups
    bool ack_high = true;
    bool busy_high = true;
    std::uint8_t data = 0;  // the PC's data register as last written

    // Progress.
    std::size_t frame = 0;                  // the frame being sent, an index into `frames`
    bool aborting = false;                  // the abort frame is being sent instead
    bool recovering = false;                // after a fault: the one answer that decides the abort
    std::size_t abort_from = 0;             // the frame whose bytes the abort frame goes out over
    std::vector<std::uint8_t> frame_bytes;  // header, code, payload, trailer
    std::size_t index = 0;                  // the byte of frame_bytes in progress
    int bit = 7;
    std::uint8_t echo = 0;        // SI0 as shifted in during the byte in progress
    bool echo_mismatch = false;   // in the frame in progress
    bool awaiting_reply = false;  // listening for 0xE0 (else for the answer)
    int sio1_bits = 0;
    std::uint8_t sio1_value = 0;
    std::int64_t bytes_sent = 0;

    // Recording.
    std::vector<std::uint8_t> echoes;  // the byte taken on SI0 during each byte sent
    std::vector<copy_pc_byte> pc_bytes;
    card_ps ended_ps = -1;  // when Copy ended (or stalled)
    // Counting mode: the longest time from the PC's answer to a frame to its
    // next status read, by which it must be listening for the next header.
    card_ps answered_ps = -1;
    card_ps longest_turn_ps = 0;
    std::vector<std::string> notes;  // what went wrong, in words, for a report
};

/// Prepares the card to run from `now_ps` 0, with the frames it sends set.
void copy_card_start(copy_card& card);

/// Runs the card's own events up to the card's time `until_ps`.
void copy_card_run_to(copy_card& card, card_ps until_ps);

/// The PC writes the data register at the card's present time.
void copy_card_set_data(copy_card& card, std::uint8_t value);

/// The raw status register the card's lines give now.
std::uint8_t copy_card_status_lines(const copy_card& card);

/// Whether the card has ended Copy (whatever its screen says) or stopped.
bool copy_card_finished(const copy_card& card);

/// The card's RC cycle in picoseconds.
card_ps copy_card_cycle_ps(const copy_card& card);

/// Makes room for everything the card records, so that no buffer grows
/// while it runs in real time: a page fault or a move there is a pause of
/// the card.
void copy_card_reserve(copy_card& card);

// Counting mode: the card's time is what the PC's accesses cost (`pc`) and
// the delay units it waits, so the same tool run gives the same card run.

/// The PC reads the status register.
std::uint8_t copy_card_status_read(copy_card& card);

/// The PC writes the data register.
void copy_card_data_write(copy_card& card, std::uint8_t value);

/// The PC waits one delay unit whose floor is `floor_us`: the card's time
/// moves on by the floor.
void copy_card_delay(copy_card& card, unsigned floor_us);

/// The PC sleeps.
void copy_card_sleep(copy_card& card, unsigned milliseconds);

/// The card behind the one interface of the software cards.
struct copy_card_soft final : soft_card {
    copy_card& card;
    explicit copy_card_soft(copy_card& c) : card(c) {}

    void start() override { copy_card_start(card); }
    void reserve() override { copy_card_reserve(card); }
    std::uint8_t status_read() override { return copy_card_status_read(card); }
    void data_write(std::uint8_t value) override { copy_card_data_write(card, value); }
    void delay(unsigned floor_us) override { copy_card_delay(card, floor_us); }
    void sleep(unsigned milliseconds) override { copy_card_sleep(card, milliseconds); }
    [[nodiscard]] card_ps now() const override { return card.now_ps; }
    [[nodiscard]] card_ps next_event() const override { return card.next_event_ps; }
    void run_to(card_ps until) override { copy_card_run_to(card, until); }
    void set_data(std::uint8_t value) override { copy_card_set_data(card, value); }
    [[nodiscard]] std::uint8_t status_lines() const override {
        return copy_card_status_lines(card);
    }
    [[nodiscard]] bool finished() const override { return copy_card_finished(card); }
    [[nodiscard]] card_ps read_cost() const override { return card.pc.access_ps; }
};
