// A PC for the sender's tests, in this process: it takes the card's bits and
// sends its own exactly as vmurx's byte exchange does (poll until Ack is
// low, write the echo of the byte before on D2, poll until Ack is high, take
// Busy; its own bits on D0 and D1), over the processor card in counting
// mode. A test can make it pause at a chosen moment of a chosen bit (before
// it sees a low, between seeing it and writing its echo, or while it waits
// for the high), which the real tool cannot be made to do on cue.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "cable/cable.h"
#include "cpu_card_support.h"
#include "vmu/cpu_card/card_setup.h"
#include "vmu/cpu_card/cpu_card.h"

namespace cpu_card_test {

/// Starts `card` on a card that holds `file` beside the sender, and runs it
/// until its user has chosen the file at `speed`: the sender waits for the
/// PC, whose status reads cost `cycles_per_read` cycles each.
inline void start_sending(vmu_cpu_card& card, const test_file& file, cpu_card_speed speed,
                          unsigned cycles_per_read = 2) {
    card_image image = card_with({file});
    std::string reason;
    if (!cpu_card_install(image, vmu_sender_image(), reason))
        throw std::runtime_error("test card: " + reason);
    card.cycles_per_read = cycles_per_read;
    vmu_cpu_load_card(card.cpu, image.bytes);
    card.presses = cpu_card_choose(0, speed);
    cpu_card_reset(card);
    cpu_card_run_to_ms(card, cpu_card_chosen_ms(0, speed));
}

/// Where the PC stands in a bit of the card's when a pause may start.
enum class pc_phase {
    waiting_low,   // before a read in WL: it has not seen the low yet
    before_echo,   // it saw the low and has not written its echo
    waiting_high,  // its echo is out; before a read in WH
};

/// What a pause trigger sees: the card's byte (counted from the transfer's
/// start) and bit (7 first), the phase, and the echoes the PC writes: for
/// the bit before, this one and the next (for bit 0 the next byte's first,
/// which is this byte's top bit, known once the PC took it).
struct pc_moment {
    long byte;
    int bit;
    pc_phase phase;
    bool previous_echo;
    bool echo;
    bool next_echo;
};

struct fake_pc {
    vmu_cpu_card* card = nullptr;
    std::uint8_t data = CABLE_DATA_IDLE;
    std::uint8_t echo = 0x50;  // the tool's echo before its first byte
    long bytes_taken = 0;
    /// Called at every moment; the µs it returns, if any, the PC pauses
    /// there (the card runs on).
    std::function<unsigned(const pc_moment&)> pause_at;
    unsigned pauses = 0;

    void pause(const pc_moment& at) {
        const unsigned us = pause_at ? pause_at(at) : 0;
        if (us != 0) {
            ++pauses;
            const std::uint64_t cycle_ps = card->cpu.cycle_ps;
            cpu_card_run(*card, (std::uint64_t{us} * 1'000'000 + cycle_ps - 1) / cycle_ps);
        }
    }

    // Busy inverted at the port; the rest as read.
    std::uint8_t read() { return cpu_card_status_read(*card) ^ CABLE_STATUS_INVERTED; }

    void write(std::uint8_t value) {
        data = value;
        cpu_card_data_write(*card, value);
    }

    void open() { write(CABLE_DATA_IDLE); }

    bool ready(long reads) {
        for (long i = 0; i < reads; ++i) {
            if ((read() & STATUS_SELECT) == 0)
                return true;
        }
        return false;
    }

    /// One of the card's bytes, or -1 when `reads` ran out.
    int take_byte(long reads) {
        unsigned value = 0;
        bool previous = (data & DATA_ECHO) != 0;
        for (int bit = 7; bit >= 0; --bit) {
            const bool e = ((echo >> bit) & 1) != 0;
            // At bit 0 the seven bits taken stand in bits 6-0 of value.
            const bool next = bit > 0 ? ((echo >> (bit - 1)) & 1) != 0 : ((value >> 6) & 1) != 0;
            pc_moment at{bytes_taken, bit, pc_phase::waiting_low, previous, e, next};
            std::uint8_t status = 0;
            do {
                pause(at);
                status = read();
            } while ((status & STATUS_ACK) != 0 && --reads > 0);
            at.phase = pc_phase::before_echo;
            pause(at);
            write(static_cast<std::uint8_t>(e ? data | DATA_ECHO : data & ~DATA_ECHO));
            at.phase = pc_phase::waiting_high;
            do {
                pause(at);
                status = read();
            } while ((status & STATUS_ACK) == 0 && --reads > 0);
            if (reads <= 0)
                return -1;
            value = (value << 1) | ((status & STATUS_BUSY) != 0 ? 1U : 0U);
            previous = e;
        }
        echo = static_cast<std::uint8_t>(value);
        ++bytes_taken;
        return static_cast<int>(value);
    }

    // The lead's delay units, then the bit on D1 with D0 low and D0
    // rising, a unit after each; its units have no floor (cycles_per_delay).
    void send_byte(std::uint8_t value) {
        for (int unit = 0; unit < SEND_LEAD_DELAYS; ++unit)
            cpu_card_delay(*card, 0);
        for (int bit = 7; bit >= 0; --bit) {
            const auto d1 =
                static_cast<std::uint8_t>(((value >> bit) & 1) != 0 ? DATA_SEND_BIT : 0);
            write(static_cast<std::uint8_t>((data & ~(DATA_SEND_CLOCK | DATA_SEND_BIT)) | d1));
            cpu_card_delay(*card, 0);
            write(static_cast<std::uint8_t>(data | DATA_SEND_CLOCK));
            cpu_card_delay(*card, 0);
        }
    }
};

/// What a whole transfer gave the PC.
struct pc_transfer {
    bool complete = false;
    std::uint8_t type = 0;
    std::vector<std::uint8_t> name;
    std::vector<std::uint8_t> content;
    std::vector<std::uint8_t> directory;
};

/// One frame: header, $E0, code, payload, trailer, $0C. False when a byte
/// does not come or the header is no header.
inline bool take_frame(fake_pc& pc, std::uint8_t& code, std::vector<std::uint8_t>& payload) {
    constexpr long READS = 3'000'000;
    const int header = pc.take_byte(READS);
    if (header < 0 || cable_length_for(static_cast<std::uint8_t>(header)) == 0)
        return false;
    pc.send_byte(HEADER_REPLY);
    const int got_code = pc.take_byte(READS);
    if (got_code < 0)
        return false;
    code = static_cast<std::uint8_t>(got_code);
    payload.clear();
    for (std::size_t i = 0; i < cable_length_for(static_cast<std::uint8_t>(header)); ++i) {
        const int byte = pc.take_byte(READS);
        if (byte < 0)
            return false;
        payload.push_back(static_cast<std::uint8_t>(byte));
    }
    const int trailer = pc.take_byte(READS);  // vmurx takes 0x00 or 0xFF
    if (trailer != 0x00 && trailer != 0xFF)
        return false;
    pc.send_byte(BLOCK_ACK);
    return true;
}

/// A whole transfer of the file the card sends, as vmurx takes it.
inline pc_transfer take_transfer(fake_pc& pc) {
    pc_transfer got;
    pc.open();
    if (!pc.ready(2'000'000))
        return got;
    std::uint8_t code = 0;
    std::vector<std::uint8_t> payload;
    if (!take_frame(pc, code, payload) || code != BLOCK_CODE_START || payload.size() != 2)
        return got;
    got.type = payload[0];
    const unsigned blocks = payload[1];
    if (!take_frame(pc, code, got.name) || code != BLOCK_CODE_NAME)
        return got;
    for (unsigned piece = 0; piece < blocks * 4; ++piece) {
        if (!take_frame(pc, code, payload) || code != BLOCK_CODE_DATA)
            return got;
        got.content.insert(got.content.end(), payload.begin(), payload.end());
        if (!take_frame(pc, code, payload) || code != BLOCK_CODE_FLASH)
            return got;
    }
    if (!take_frame(pc, code, got.directory) || code != BLOCK_CODE_DIRECTORY)
        return got;
    got.complete = take_frame(pc, code, payload) && code == BLOCK_CODE_FLASH;
    return got;
}

}  // namespace cpu_card_test
