// The software VMU: an imitation of the memory card's end of the cable that
// speaks the link's bit-level protocol, for the test suites, the demo program
// and benchmarks.
//
// Time is counted in status reads: every read of the status register is one
// tick, so every timing rule of the link is an exact, repeatable count. The
// simulated card follows a script of frames and records what the PC did, so
// tests assert on the wire rather than on the tool's internals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cable/cable.h"

/// One block frame as the card sends it: header byte, (PC's reply), block
/// code, payload, trailer byte, and optionally a wait for the PC's answer.
struct vmu_frame {
    std::uint8_t header = 0;  // 0x50 announces 128 bytes, 0x10..0x1F announce 1..16
    std::uint8_t code = 0;
    std::vector<std::uint8_t> payload;
    std::uint8_t trailer = 0x00;
    bool await_answer = true;  // wait for the PC's ACK/NAK after the trailer
};

/// A frame whose header announces exactly its payload.
vmu_frame vmu_make_frame(std::uint8_t code, std::vector<std::uint8_t> payload);

/// What a card sends for one whole file, in the order the PC expects it.
struct vmu_file {
    std::vector<std::uint8_t> image;  // whole 512-byte blocks, at most 255
    std::uint8_t type = TYPE_DATA;
    std::string name;  // at most 12 characters, padded with spaces
    std::uint8_t stamp[7] = {0x19, 0x99, 0x12, 0x31, 0x23, 0x59, 0x58};  // BCD
};

/// The frames of a whole transfer as the card's own Copy sends them
/// (copy_frames): start, name, data/flash pairs, directory, last flash; but
/// every trailer 0x00, the stamp alone in the directory frame and the last
/// frame answered too.
std::vector<vmu_frame> vmu_transfer_frames(const vmu_file& file);

/// One write of the data register as the card saw it.
struct vmu_data_write {
    std::uint8_t value;
    bool masked;  // the PC's interrupt mask at that moment
};

/// A byte the card received from the PC (clocked on D0, bit on D1, MSB first).
struct vmu_pc_byte {
    std::uint8_t value;
    bool masked;  // mask state when its first bit was clocked
};

/// A register access at an address the link must not touch.
struct vmu_stray_access {
    std::uint16_t address;
    bool write;
};

constexpr std::int64_t VMU_NEVER = -1;
/// A script step that waits for any byte from the PC.
constexpr std::int16_t STEP_AWAIT_PC = -1;
/// A script step that waits for `byte` from the PC in particular.
constexpr std::int16_t vmu_await(std::uint8_t byte) {
    return static_cast<std::int16_t>(-0x100 - byte);
}

/// The whole state of the simulated card: configuration, script, progress and
/// what the PC did. Reset it by assigning a fresh record.
struct vmu_sim {
    // Configuration.
    std::int64_t ready_after = 0;  // status reads before Select goes low, or VMU_NEVER
    int hold = 1;    // time units per Ack level (at least 1): status reads, or µs in real time
    int jitter = 0;  // extra units per level, 0..jitter, from `seed`
    std::uint32_t seed = 1;
    std::int64_t stall_byte = VMU_NEVER;  // index among the bytes the card sends
    int stall_bit = 0;                    // 0 = before the MSB, 7 = before the LSB
    bool stall_ack_low = false;           // stall with Ack low (mid-bit) instead of high
    int refuse_errno = 0;                 // nonzero: port_acquire fails with this errno
    bool stop_on_wrong_byte = false;      // a byte other than the awaited one stops the card

    std::vector<vmu_frame> frames;
    /// What the card does, step by step: a byte to send (0..255), or a wait
    /// for a byte from the PC (STEP_AWAIT_PC or vmu_await). The frames are
    /// appended to it on the first tick; a test may also write steps here
    /// directly.
    std::vector<std::int16_t> script;

    // Recording.
    std::uint16_t base = 0;
    bool acquired = false;
    bool released = false;
    bool masked = false;
    std::uint64_t status_reads = 0;
    std::uint64_t unmasked_reads = 0;  // status reads made while unmasked
    std::vector<vmu_data_write> data_writes;
    std::vector<std::uint8_t> echo_bits;  // D2 at each rising edge of Ack
    std::vector<vmu_pc_byte> pc_bytes;
    std::vector<vmu_stray_access> stray;
    std::vector<std::string> complaints;  // protocol violations by the PC
    unsigned slept_ms = 0;
    std::int64_t bytes_sent = 0;  // bytes the card has clocked out completely

    // Progress through the script (internal).
    bool frames_scripted = false;
    std::size_t step = 0;
    bool sending = false;
    std::uint8_t send_value = 0;
    int bit = 7;   // bit of send_value in progress
    int half = 0;  // 0 before its Ack-low level, 1 in it, 2 in its Ack-high level
    int level_left = 0;
    bool ack_high = true;
    bool busy = false;  // pin level of Busy
    bool stalled = false;
    bool awaiting_pc = false;
    std::int16_t awaited = STEP_AWAIT_PC;  // the wait step the card listens for
    int pc_bits = 0;
    std::uint8_t pc_value = 0;
    bool pc_masked = false;
    std::uint8_t last_data = 0;
    std::uint32_t rng = 0;
};

/// The raw status register as the PC reads it, advancing the card by one tick.
std::uint8_t vmu_sim_status_read(vmu_sim& vmu);

// The pieces of a tick, for a card that keeps time some other way.

/// Appends the frames to the script, once.
void vmu_sim_prepare(vmu_sim& vmu);

/// When the current level is over (level_left 0): starts the next level, the
/// next byte of the script, or a wait. Sets level_left to the new level's
/// length, or leaves it 0 while the card waits, is stalled or is done.
void vmu_sim_next_level(vmu_sim& vmu);

/// The raw status register that the card's lines give.
std::uint8_t vmu_sim_status_lines(const vmu_sim& vmu, bool ready);

/// The PC writes the data register.
void vmu_sim_data_write(vmu_sim& vmu, std::uint8_t value);

/// True when the card has sent every frame and heard every answer it awaited.
bool vmu_sim_finished(const vmu_sim& vmu);
