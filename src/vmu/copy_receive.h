// The card's own file manager receiving a file: "Waiting for data", the mode
// the card enters when a second card is joined to it while its file list is
// on screen, and the PC plays that second card. The card's system software
// takes Copy's frames, chooses the blocks, writes the FAT and the directory
// entry and answers; so a PC that sends through it can never leave the
// card's file system inconsistent. At worst the card refuses the file.
//
// The model keeps the card's time in picoseconds, as copy_card does, and
// writes the file it takes into a card image through the card library,
// placed as the card places it (card/card_place.h), and only when it takes
// the last frame. What it knows of the card, and how sure that is, comes
// from the card's published system software and reports of the
// card-to-card link (the facts both ends share are in cable/cable.h):
//
// - P7.3 (the PC's D3) rising switches the file list to "Waiting for data"
//   550 ms later, when SO1 falls; SIO1 listens 15 ms after that, so a
//   header sent sooner is lost. P7.3 falling, and only that, ends it.
//   Once it has taken a file the card shows its first page for about 8 s,
//   blind to P7.3, and goes back to its file list by itself, which takes
//   the next file with nothing pressed (seen on the card's system ROM run
//   on the processor model). The
//   card sleeps between base-timer ticks and answers each header with
//   0xE0 at the next one.
// - The PC's bytes arrive on SIO1, clocked by the PC's D0, MSB first, the
//   bit on D1 taken as D0 rises. SIO1 stops after each byte until the card
//   re-arms it (about 60 cycles); a bit clocked meanwhile is lost. While it
//   receives, SO1 (the PC's Select) shifts out the register's byte before,
//   a bit at each falling D0: the byte the card took last.
// - It answers each header with 0xE0 and each frame with 0x0C or 0x0A, as
//   the master on SIO0: Ack low with the bit on Busy, 64 µs, then Ack high,
//   64 µs. It does not check the PC's echo on D2.
// - It refuses a wrong block code or length, a file larger than its free
//   space (a game needs its blocks free from block 0, a data file free user
//   blocks), a data file whose name is on the card, and a flash write that
//   fails three times. It does not check trailers; any type but 0xCC is
//   data. It looks for a free directory entry only with the last frame,
//   after it has written the data and the FAT, and only among the 16 of
//   the directory's first block: without one there it answers 0x0A and the
//   file's blocks stay taken with no entry.
//
// Not confirmed on a real card, and marked where they are used: the cycle
// counts of the card's own work and of its flash writes, how it treats a
// file of no blocks, its
// screens but "Waiting for data", and what a card in a console does.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "card/card_image.h"
#include "vmu/card_time.h"
#include "vmu/soft_card.h"
#include "vmu/vmu_sim.h"

/// No event to come: the card waits for the PC.
inline constexpr card_ps RECEIVE_NO_EVENT = std::numeric_limits<card_ps>::max();

/// What the card's screen shows.
enum class receive_screen {
    first_page,  // the file manager's first page: free blocks and game blocks
    file_list,   // the file manager's list, not receiving
    waiting,     // "Waiting for data"
    receiving,   // frames on the wire
};

/// The screen's words. Not confirmed: any but "Waiting for data".
const char* receive_screen_text(receive_screen screen);

/// How the last transfer ended, if it has.
enum class receive_outcome {
    none,       // no transfer yet, or one in progress
    taken,      // the last frame accepted, the file written
    refused,    // the card answered 0x0A
    abandoned,  // the PC dropped D3 before the end
};

struct receive_config {
    bool console_power = false;  // the console's 5 V on P7.0: the card sits in a controller
    bool peer_present = true;    // P7.3 follows the PC's D3 (false: that wire is missing)
    bool select_wired = true;    // SO1 reaches the PC's Select (false: it floats high)
    std::int64_t stall_answer = VMU_NEVER;    // stop before this answer byte (from 0)
    std::int64_t flip_byte = VMU_NEVER;       // take this byte (from 0) with bit 0 flipped
    std::int64_t failing_flash = VMU_NEVER;   // this flash frame's write (from 1) fails
    card_ps tick_phase_ps = 250 * PS_PER_MS;  // the first base-timer tick
    // How long the file manager's first page shows, from the start, before
    // it moves on to the file list by itself: it ignores D3 meanwhile, and
    // the list takes a D3 already high. 0: the card starts on its file list.
    // The card shows it about 6.7 s.
    card_ps first_page_ps = 0;
};

/// What the card is doing between two of its own events.
enum class receive_phase {
    first_page,  // the file manager's first page, blind to P7.3
    file_list,   // not receiving; P7.3 rising starts it
    entering,    // P7.3 rose: the card switches at its next base-timer tick
    rearming,    // SIO1 stopped after a byte; armed again at the next event
    listening,   // SIO1 takes the PC's byte, with no time limit
    looking,     // a header may have come: the card looks at it at the next event
    working,     // the frame is in: the card checks it and writes its flash
    bit_low,     // SCK0 low with an answer's bit on SO0
    bit_high,    // SCK0 high; another bit follows
    byte_end,    // SCK0 high with the answer's last bit
    ended,       // the transfer is over; the card waits for P7.3 to fall
    stalled,     // the card stopped answering (a fault of the test)
};

/// The whole card: configuration, its flash, progress and what it saw.
/// Reset it by assigning a fresh record.
struct copy_receive {
    receive_config config;
    card_image image;  // the card's flash
    /// Stores the image when the last frame changes it, as the card writes
    /// its flash: false with the reason when it cannot, and the card refuses
    /// the frame. The program that runs the card writes the file; null: the
    /// image stays in memory.
    std::function<bool(const card_image& image, std::string& reason)> store;
    copy_pc_time pc;  // counting mode only

    // The card's time and what it does next.
    bool started = false;  // copy_receive_start has run
    card_ps now_ps = 0;
    card_ps next_event_ps = RECEIVE_NO_EVENT;
    receive_phase phase = receive_phase::file_list;
    receive_screen screen = receive_screen::file_list;
    receive_outcome outcome = receive_outcome::none;

    // The lines, as pin levels; the PC's data register as last written.
    bool so1_high = true;
    bool ack_high = true;
    bool busy_high = true;
    std::uint8_t data = 0;

    // SIO1.
    bool sio1_armed = false;
    int sio1_bits = 0;
    std::uint8_t sbuf1 = 0;  // the shift register: shifted out on SO1 as the next byte comes in

    // The transfer.
    bool first_header = true;               // the next header is looked for at a tick
    std::size_t frame = 0;                  // frames taken so far: the index of the frame due
    std::vector<std::uint8_t> frame_bytes;  // header, code, payload, trailer as they come
    std::size_t frame_length = 0;           // the payload the header announced
    std::uint8_t answer = 0;                // the byte being answered
    int bit = 7;
    bool game = false;
    std::size_t blocks = 0;
    std::vector<std::uint16_t> placed;  // the blocks chosen for the file
    std::size_t slot = 0;               // the directory slot chosen for it
    std::array<std::uint8_t, NAME_BLOCK_SIZE> name{};
    directory_tail directory{};
    std::vector<std::uint8_t> content;  // the pieces taken, written to flash with the last frame

    // Recording.
    std::int64_t bytes_taken = 0;     // whole bytes SIO1 took
    std::int64_t bits_lost = 0;       // D0 rising while SIO1 was not armed
    std::int64_t answers_sent = 0;    // answer bytes begun
    std::vector<std::uint8_t> taken;  // every byte taken, in order
    std::vector<std::string> notes;   // what happened, in words, for a report
};

/// Prepares the card to run from `now_ps` 0, its file list on screen.
void copy_receive_start(copy_receive& card);

/// Runs the card's own events up to the card's time `until_ps`.
void copy_receive_run_to(copy_receive& card, card_ps until_ps);

/// The PC writes the data register at the card's present time.
void copy_receive_set_data(copy_receive& card, std::uint8_t value);

/// The raw status register the card's lines give now.
std::uint8_t copy_receive_status_lines(const copy_receive& card);

/// Whether no event of the card's will come whatever the PC does: never,
/// since P7.3 may rise again.
bool copy_receive_finished(const copy_receive& card);

/// Makes room for everything the card records during a transfer of up to
/// 255 blocks, so that no buffer grows while it runs in real time.
void copy_receive_reserve(copy_receive& card);

// Counting mode: the card's time is what the PC's accesses cost (`pc`) and
// the delay units it waits, so the same tool run gives the same card run.

/// The PC reads the status register.
std::uint8_t copy_receive_status_read(copy_receive& card);

/// The PC writes the data register.
void copy_receive_data_write(copy_receive& card, std::uint8_t value);

/// The PC waits one delay unit whose floor is `floor_us`: the card's time
/// moves on by the floor.
void copy_receive_delay(copy_receive& card, unsigned floor_us);

/// The PC sleeps.
void copy_receive_sleep(copy_receive& card, unsigned milliseconds);

// What the card does with a frame it has taken (copy_receive_frames.cpp).

/// Checks the frame in frame_bytes against the one due and takes it: the
/// answer (0x0C or 0x0A) and how long the card works before it, in its
/// cycles. Sets the outcome when the answer ends the transfer, and writes
/// the image only with the last frame.
struct receive_verdict {
    std::uint8_t answer;
    std::int64_t work_cycles;
};
receive_verdict copy_receive_take_frame(copy_receive& card);

/// The card behind the one interface of the software cards.
struct copy_receive_soft final : soft_card {
    copy_receive& card;
    explicit copy_receive_soft(copy_receive& c) : card(c) {}

    void start() override { copy_receive_start(card); }
    void reserve() override { copy_receive_reserve(card); }
    std::uint8_t status_read() override { return copy_receive_status_read(card); }
    void data_write(std::uint8_t value) override { copy_receive_data_write(card, value); }
    void delay(unsigned floor_us) override { copy_receive_delay(card, floor_us); }
    void sleep(unsigned milliseconds) override { copy_receive_sleep(card, milliseconds); }
    [[nodiscard]] card_ps now() const override { return card.now_ps; }
    [[nodiscard]] card_ps next_event() const override { return card.next_event_ps; }
    void run_to(card_ps until) override { copy_receive_run_to(card, until); }
    void set_data(std::uint8_t value) override { copy_receive_set_data(card, value); }
    [[nodiscard]] std::uint8_t status_lines() const override {
        return copy_receive_status_lines(card);
    }
    [[nodiscard]] bool finished() const override { return copy_receive_finished(card); }
    [[nodiscard]] card_ps read_cost() const override { return card.pc.access_ps; }
};
