// The cable between a PC's parallel port and the card: what both ends of the
// wire agree on. The tool's core, the software cards, the backends, the
// card and save formats and the tests all take these facts from here, under
// the names the tool's core reads them by, so that a change of the wiring or
// of the protocol is one edit.
//
// Lines are named from the PC's side: the data register (base) carries the
// PC's four lines to the card, the status register (base + 1) the card's
// three lines to the PC.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The PC's data register (D0 to D3), written only. Bits 4 to 7 are never
// set.
inline constexpr std::uint8_t DATA_SEND_CLOCK = 0x01;  // D0: clock of the PC's bits, high idle
inline constexpr std::uint8_t DATA_SEND_BIT = 0x02;    // D1: the bit the PC sends
inline constexpr std::uint8_t DATA_ECHO = 0x04;        // D2: the PC's echo of the card's bit
inline constexpr std::uint8_t DATA_OPEN = 0x08;        // D3: high while the PC holds the port
inline constexpr std::uint8_t CABLE_DATA_LINES =
    DATA_SEND_CLOCK | DATA_SEND_BIT | DATA_ECHO | DATA_OPEN;
/// The data register while the PC holds the port and nothing moves: the
/// clock idle high and the port marked as held.
inline constexpr std::uint8_t CABLE_DATA_IDLE = DATA_SEND_CLOCK | DATA_OPEN;

// The status register as the port presents it (raw, before any inversion is
// undone).
inline constexpr std::uint8_t STATUS_SELECT = 0x10;  // pin 13: low = the card is ready
inline constexpr std::uint8_t STATUS_ACK = 0x40;     // pin 10: clock of the bits the card sends
inline constexpr std::uint8_t STATUS_BUSY = 0x80;    // pin 11: the bit the card sends
/// The port's hardware presents the Busy pin inverted: a high pin reads 0.
inline constexpr std::uint8_t CABLE_STATUS_INVERTED = STATUS_BUSY;
/// The status bits no line of the cable drives, as an idle port reads them:
/// bits 0 to 3 high, bit 5 low.
inline constexpr std::uint8_t CABLE_STATUS_UNUSED = 0x0F;

/// The raw status register for the card's three lines at these pin levels
/// (true = high): Busy inverted, the unused bits as an idle port reads them.
constexpr std::uint8_t cable_status_byte(bool select_high, bool ack_high, bool busy_high) {
    std::uint8_t raw = CABLE_STATUS_UNUSED;
    if (select_high)
        raw |= STATUS_SELECT;
    if (ack_high)
        raw |= STATUS_ACK;
    if (!busy_high)
        raw |= STATUS_BUSY;
    return raw;
}

// The card's end of the wire: the pin of the card's port 1 or port 7 that
// each line meets, by the card's serial functions (contacts as the hardware
// reports number them; that numbering is not confirmed on a card). Contact
// 1, the card's I/O enable, is tied to contact 14, its 3.5 V out, so that
// the pins do not float; contact 2, the console's 5 V, is never connected.
inline constexpr std::uint8_t CABLE_CARD_BUSY = 0x01;    // P10, SO0, contact 5: Busy
inline constexpr std::uint8_t CABLE_CARD_D2 = 0x02;      // P11, SI0, contact 4: the PC's echo
inline constexpr std::uint8_t CABLE_CARD_ACK = 0x04;     // P12, SCK0, contact 3: Ack
inline constexpr std::uint8_t CABLE_CARD_SELECT = 0x08;  // P13, SO1, contact 11: Select
inline constexpr std::uint8_t CABLE_CARD_D1 = 0x10;      // P14, SI1, contact 10: D1
inline constexpr std::uint8_t CABLE_CARD_D0 = 0x20;      // P15, SCK1, contact 12: D0
/// Port 1's bits the cable reaches; the card drives Busy, Ack and Select.
inline constexpr std::uint8_t CABLE_CARD_P1_LINES = 0x3F;
inline constexpr std::uint8_t CABLE_CARD_OUTPUTS =
    CABLE_CARD_BUSY | CABLE_CARD_ACK | CABLE_CARD_SELECT;
/// Port 7: P73, contact 6, "a peer present", meets D3; P70 is the console's
/// 5 V, which the cable never brings.
inline constexpr std::uint8_t CABLE_CARD_P7_D3 = 0x08;
inline constexpr std::uint8_t CABLE_CARD_P7_DOCKED = 0x01;

/// Delay units the PC waits before the first bit of every byte it sends, so
/// that the card is listening again after the byte before.
inline constexpr int SEND_LEAD_DELAYS = 5;

// A frame: header byte, the reply, block code, payload, trailer, the answer.
// The header announces the payload's length: CABLE_HEADER_FULL 128 bytes,
// CABLE_HEADER_SHORT_FIRST to CABLE_HEADER_SHORT_LAST 1 to 16 (the header
// minus 15).
inline constexpr std::uint8_t CABLE_HEADER_FULL = 0x50;
inline constexpr std::size_t DATA_BLOCK_SIZE = 128;
inline constexpr std::uint8_t CABLE_HEADER_SHORT_FIRST = 0x10;
inline constexpr std::uint8_t CABLE_HEADER_SHORT_LAST = 0x1F;
inline constexpr std::size_t CABLE_SHORT_LONGEST = 16;

/// The header byte that announces `length` payload bytes: 128, or 1 to 16.
constexpr std::uint8_t cable_header_for(std::size_t length) {
    if (length == DATA_BLOCK_SIZE)
        return CABLE_HEADER_FULL;
    return static_cast<std::uint8_t>(CABLE_HEADER_SHORT_FIRST - 1 + length);
}

/// The payload length a header byte announces, or 0 for a byte that is no
/// header.
constexpr std::size_t cable_length_for(std::uint8_t header) {
    if (header == CABLE_HEADER_FULL)
        return DATA_BLOCK_SIZE;
    if (header >= CABLE_HEADER_SHORT_FIRST && header <= CABLE_HEADER_SHORT_LAST)
        return std::size_t{header} - CABLE_HEADER_SHORT_FIRST + 1U;
    return 0;
}

// The receiver's answers: to a header, and to a frame after its trailer.
inline constexpr std::uint8_t HEADER_REPLY = 0xE0;
inline constexpr std::uint8_t BLOCK_ACK = 0x0C;  // frame accepted
inline constexpr std::uint8_t BLOCK_NAK = 0x0A;  // frame refused

// Block codes, in the order of a transfer: start (type and size), name, then
// data and flash for each 128-byte piece, the directory entry (time stamp),
// and a last flash.
inline constexpr std::uint8_t BLOCK_CODE_START = 2;
inline constexpr std::uint8_t BLOCK_CODE_NAME = 6;
inline constexpr std::uint8_t BLOCK_CODE_DATA = 4;
inline constexpr std::uint8_t BLOCK_CODE_FLASH = 8;
inline constexpr std::uint8_t BLOCK_CODE_DIRECTORY = 3;

/// Bytes of the name frame's payload: the card's file name as a directory
/// entry holds it, all 12 bytes, whatever pads a shorter name.
inline constexpr std::size_t NAME_BLOCK_SIZE = 12;
/// Bytes of the directory frame's payload; the first seven are the time
/// stamp in BCD (century, year, month, day, hour, minute, second), as a
/// directory entry holds it.
inline constexpr std::size_t DIRECTORY_BLOCK_SIZE = 12;
inline constexpr std::size_t STAMP_BCD_SIZE = 7;
/// The directory frame's payload as one value: the directory entry's bytes
/// 0x10 to 0x1B (below).
using directory_tail = std::array<std::uint8_t, DIRECTORY_BLOCK_SIZE>;

// The pace of the card's own Copy, which clocks its bytes on Ack and does not
// wait for the PC. These budgets come from running the card's own firmware
// on an interpreter of its processor, at the fastest RC clock, 1.2 MHz; not
// yet confirmed on a card. The PC's echo to a fall of Ack must be on D2
// within about half a level: port accesses of up to 20 µs keep up at
// 1.2 MHz (27 µs at 872 kHz). And from the end of the PC's answer to one
// frame to the card's next header the card leaves at least 0.56 ms at
// 1.2 MHz (1.06 ms at 872 kHz; most frames far more). The Copy model counts
// its least gap as 154 cycles, which the 872 kHz figure gives and which come
// to 0.77 ms at 1.2 MHz: the budget here is the stricter of the two.
inline constexpr unsigned CABLE_COPY_ECHO_BUDGET_US = 20;
inline constexpr unsigned CABLE_COPY_TURN_BUDGET_US = 560;

// File types in byte 0 of the start frame's payload, as a directory entry's
// type byte holds them too; byte 1 is the size in blocks.
inline constexpr std::uint8_t TYPE_GAME = 0xCC;
inline constexpr std::uint8_t TYPE_DATA = 0x33;
/// A block of a file and of the card: the start frame's size counts them, a
/// card is 256 of them and a save's header takes the first (the second for
/// a game).
inline constexpr std::size_t IMAGE_BLOCK_SIZE = 512;

// The frames of one file as the card's own Copy sends them, and as the card
// takes them when it receives: start, name, a data and a flash frame for
// each 128-byte piece of the file in order, the directory entry, and a last
// flash frame. The trailer is 0x00 after a data frame's payload and 0xFF
// after every other; a receiving card does not check it.
enum class cable_frame { start, name, data, flash, directory, last_flash };
inline constexpr std::size_t CABLE_PIECES_PER_BLOCK = IMAGE_BLOCK_SIZE / DATA_BLOCK_SIZE;
inline constexpr std::uint8_t CABLE_TRAILER_DATA = 0x00;
inline constexpr std::uint8_t CABLE_TRAILER = 0xFF;

/// Frames in the transfer of a file of `blocks` blocks.
constexpr std::size_t cable_frame_count(std::size_t blocks) {
    return 4 + 2 * CABLE_PIECES_PER_BLOCK * blocks;
}

/// Which frame is `index` (from 0) of the transfer of `blocks` blocks; the
/// data and flash frames of piece p are 2 + 2p and 3 + 2p.
constexpr cable_frame cable_frame_at(std::size_t index, std::size_t blocks) {
    const std::size_t pieces = CABLE_PIECES_PER_BLOCK * blocks;
    if (index == 0)
        return cable_frame::start;
    if (index == 1)
        return cable_frame::name;
    if (index < 2 + 2 * pieces)
        return index % 2 == 0 ? cable_frame::data : cable_frame::flash;
    return index == 2 + 2 * pieces ? cable_frame::directory : cable_frame::last_flash;
}

constexpr std::uint8_t cable_frame_code(cable_frame frame) {
    switch (frame) {
        case cable_frame::start:
            return BLOCK_CODE_START;
        case cable_frame::name:
            return BLOCK_CODE_NAME;
        case cable_frame::data:
            return BLOCK_CODE_DATA;
        case cable_frame::directory:
            return BLOCK_CODE_DIRECTORY;
        case cable_frame::flash:
        case cable_frame::last_flash:
            break;
    }
    return BLOCK_CODE_FLASH;
}

/// Bytes of the frame's payload: type and size, the name, a piece, the
/// directory entry's bytes, or the flash frame's one 0x00.
constexpr std::size_t cable_frame_length(cable_frame frame) {
    switch (frame) {
        case cable_frame::start:
            return 2;
        case cable_frame::name:
            return NAME_BLOCK_SIZE;
        case cable_frame::data:
            return DATA_BLOCK_SIZE;
        case cable_frame::directory:
            return DIRECTORY_BLOCK_SIZE;
        case cable_frame::flash:
        case cable_frame::last_flash:
            break;
    }
    return 1;
}

constexpr std::uint8_t cable_frame_trailer(cable_frame frame) {
    return frame == cable_frame::data ? CABLE_TRAILER_DATA : CABLE_TRAILER;
}

// The directory frame's payload is the directory entry's bytes 0x10 to 0x1B:
// the stamp's seven BCD bytes, the weekday (BCD, 0 for Monday), the size in
// blocks and the block offset of the file's header (1 for a game, 0 for a
// data file), both little-endian.
inline constexpr std::size_t CABLE_DIRECTORY_WEEKDAY = 7;
inline constexpr std::size_t CABLE_DIRECTORY_BLOCKS = 8;
inline constexpr std::size_t CABLE_DIRECTORY_HEADER = 10;

// The card receiving: with its file manager's file list on screen, the card
// switches to "Waiting for data" when P7.3 (the PC's D3) rises, and leaves
// it only when P7.3 falls; there is no byte timeout. It looks for the first
// header once per base-timer tick (2 Hz). It answers as the master on SIO0,
// clocked by its ceramic oscillator (6 MHz divided by 12), so each level of
// Ack lasts 64 µs. After each byte it takes on SIO1 it re-arms the receiver,
// about 60 cycles of that clock; after a byte it answers, only once the
// answer's last level is over. Not confirmed on a real card: the look's
// period, and that the oscillator runs on a card standing alone.
inline constexpr unsigned CABLE_RECEIVE_LOOK_MS = 500;
inline constexpr unsigned CABLE_RECEIVE_LEVEL_US = 64;
inline constexpr unsigned CABLE_RECEIVE_REARM_US = 120;
/// The least delay unit, in µs, with which the PC's lead before a byte
/// outlasts the card's last level and its re-arming after an answer.
inline constexpr unsigned CABLE_RECEIVE_FLOOR_US =
    (CABLE_RECEIVE_LEVEL_US + CABLE_RECEIVE_REARM_US + SEND_LEAD_DELAYS - 1) / SEND_LEAD_DELAYS;
