// The software VMU's behaviour: the card's side of the bit-level protocol,
// driven one status read at a time, and its record of what the PC did; the
// counting side of the card behind the one interface (vmu_sim_soft).
#include "vmu/vmu_sim.h"

#include <algorithm>
#include <array>
#include <climits>

#include "vmu/card_time.h"
#include "vmu/copy_card.h"
#include "vmu/vmu_sim_soft.h"

namespace {

void script_frames(vmu_sim& vmu) {
    for (const vmu_frame& frame : vmu.frames) {
        vmu.script.push_back(frame.header);
        vmu.script.push_back(vmu_await(HEADER_REPLY));
        vmu.script.push_back(frame.code);
        for (std::uint8_t byte : frame.payload)
            vmu.script.push_back(byte);
        vmu.script.push_back(frame.trailer);
        if (frame.await_answer)
            vmu.script.push_back(vmu_await(BLOCK_ACK));
    }
    vmu.frames_scripted = true;
    vmu.rng = vmu.seed != 0 ? vmu.seed : 1;
}

int level_length(vmu_sim& vmu) {
    // In 64 bits: hold and jitter may each be as large as an int.
    std::int64_t length = vmu.hold < 1 ? 1 : vmu.hold;
    if (vmu.jitter > 0) {
        // xorshift32: the same seed gives the same timing on every run.
        vmu.rng ^= vmu.rng << 13;
        vmu.rng ^= vmu.rng >> 17;
        vmu.rng ^= vmu.rng << 5;
        length += static_cast<std::int64_t>(vmu.rng % (static_cast<std::uint64_t>(vmu.jitter) + 1));
    }
    return static_cast<int>(std::min<std::int64_t>(length, INT_MAX));
}

}  // namespace

// Chooses the line levels for the next stretch of time, when the previous
// one is over: the next half of a bit, the next byte of the script, or idle
// (Ack high) while the card waits for the PC or has nothing left to send.
void vmu_sim_next_level(vmu_sim& vmu) {
    while (true) {
        if (vmu.stalled || vmu.awaiting_pc)
            return;
        if (!vmu.sending) {
            if (vmu.step >= vmu.script.size())
                return;
            std::int16_t next = vmu.script[vmu.step++];
            if (next < 0) {
                vmu.awaiting_pc = true;
                vmu.awaited = next;
                return;
            }
            vmu.sending = true;
            vmu.send_value = static_cast<std::uint8_t>(next);
            vmu.bit = 7;
            vmu.half = 0;
        }
        if (vmu.half == 1) {
            // Ack rises with the bit already on Busy; the PC's echo of this
            // bit is on D2 by now.
            vmu.ack_high = true;
            vmu.busy = ((vmu.send_value >> vmu.bit) & 1) != 0;
            vmu.echo_bits.push_back((vmu.last_data & DATA_ECHO) != 0 ? 1 : 0);
            vmu.half = 2;
            vmu.level_left = level_length(vmu);
            return;
        }
        if (vmu.half == 2) {
            --vmu.bit;
            vmu.half = 0;
            if (vmu.bit < 0) {
                vmu.sending = false;
                ++vmu.bytes_sent;
                continue;
            }
        }
        if (vmu.bytes_sent == vmu.stall_byte && 7 - vmu.bit == vmu.stall_bit) {
            vmu.stalled = true;
            vmu.ack_high = !vmu.stall_ack_low;
            return;
        }
        vmu.ack_high = false;
        vmu.half = 1;
        vmu.level_left = level_length(vmu);
        return;
    }
}

namespace {

// Whether the card is listening for a byte from the PC. The card listens as
// soon as it has raised Ack for the last bit of the byte before the wait,
// while the PC may still be reading that level.
bool take_pc_byte(vmu_sim& vmu) {
    if (vmu.awaiting_pc)
        return true;
    const bool last_level = vmu.sending && vmu.bit == 0 && vmu.half == 2;
    if (!last_level || vmu.step >= vmu.script.size() || vmu.script[vmu.step] >= 0) {
        return false;
    }
    vmu.awaited = vmu.script[vmu.step];
    ++vmu.step;
    ++vmu.bytes_sent;
    vmu.sending = false;
    vmu.level_left = 0;
    return true;
}

}  // namespace

vmu_frame vmu_make_frame(std::uint8_t code, std::vector<std::uint8_t> payload) {
    vmu_frame frame;
    frame.header = cable_header_for(payload.size());
    frame.code = code;
    frame.payload = std::move(payload);
    return frame;
}

std::vector<vmu_frame> vmu_transfer_frames(const vmu_file& file) {
    // Copy's frames, but the directory frame carries the stamp alone, every
    // trailer is 0x00 and the last frame is answered too.
    directory_tail directory{};
    std::copy(std::begin(file.stamp), std::end(file.stamp), directory.begin());
    std::vector<vmu_frame> frames = copy_frames(file, directory);
    for (vmu_frame& frame : frames)
        frame.trailer = 0x00;
    frames.back().await_answer = true;
    return frames;
}

void vmu_sim_prepare(vmu_sim& vmu) {
    if (!vmu.frames_scripted)
        script_frames(vmu);
}

std::uint8_t vmu_sim_status_lines(const vmu_sim& vmu, bool ready) {
    return cable_status_byte(!ready, vmu.ack_high, vmu.busy);
}

namespace {

// One tick of the counting card: the body of every status read, inlined
// into both callers, since the scripted card's read is the one per poll
// that bench/poll_cost counts.
inline std::uint8_t tick(vmu_sim& vmu) {
    vmu_sim_prepare(vmu);
    ++vmu.status_reads;
    if (!vmu.masked)
        ++vmu.unmasked_reads;

    const auto reads = static_cast<std::int64_t>(vmu.status_reads);
    const bool ready = vmu.ready_after != VMU_NEVER && reads > vmu.ready_after;
    // The card begins its first frame one read after it signalled ready, so
    // that a PC that has just seen Select low also sees the first Ack low.
    if (ready && reads > vmu.ready_after + 1) {
        if (vmu.level_left == 0)
            vmu_sim_next_level(vmu);
        if (vmu.level_left > 0)
            --vmu.level_left;
    }
    return vmu_sim_status_lines(vmu, ready);
}

}  // namespace

std::uint8_t vmu_sim_status_read(vmu_sim& vmu) {
    return tick(vmu);
}

std::uint8_t vmu_sim_soft::status_read() {
    return tick(vmu);
}

int vmu_sim_soft::acquire(std::uint16_t base) {
    if (vmu.refuse_errno != 0)
        return vmu.refuse_errno;
    vmu.base = base;
    vmu.acquired = true;
    return 0;
}

void vmu_sim_data_write(vmu_sim& vmu, std::uint8_t value) {
    vmu.data_writes.push_back({value, vmu.masked});
    const std::uint8_t before = vmu.last_data;
    vmu.last_data = value;
    if ((value & ~CABLE_DATA_LINES) != 0)
        vmu.complaints.push_back("data write " + card_hex_byte(value) + " sets D4-D7");
    // The PC's bits count only while D3 says the port is open: raising D3
    // and D0 together on opening is not a clock edge.
    if ((before & DATA_OPEN) == 0 || (value & DATA_OPEN) == 0)
        return;

    const bool clock_before = (before & DATA_SEND_CLOCK) != 0;
    const bool clock_now = (value & DATA_SEND_CLOCK) != 0;
    if (!clock_before && !clock_now && ((before ^ value) & DATA_SEND_BIT) != 0) {
        vmu.complaints.push_back("D1 changed while D0 was low");
    }
    if (clock_before && !clock_now && vmu.pc_bits == 0)
        vmu.pc_masked = vmu.masked;
    if (!clock_before && clock_now) {
        vmu.pc_value =
            static_cast<std::uint8_t>((vmu.pc_value << 1) | ((value & DATA_SEND_BIT) ? 1 : 0));
        if (++vmu.pc_bits == 8) {
            vmu.pc_bytes.push_back({vmu.pc_value, vmu.pc_masked});
            if (take_pc_byte(vmu)) {
                vmu.awaiting_pc = false;
                const auto awaited = static_cast<std::uint8_t>(-0x100 - vmu.awaited);
                if (vmu.stop_on_wrong_byte && vmu.awaited != STEP_AWAIT_PC &&
                    vmu.pc_value != awaited) {
                    // A real card that hears a garbled reply or answer gives
                    // up on the frame: it stops sending, and the PC times out.
                    vmu.stalled = true;
                    vmu.complaints.push_back("PC sent " + card_hex_byte(vmu.pc_value) +
                                             " where the card awaited " + card_hex_byte(awaited) +
                                             "; the card stops");
                }
            } else {
                vmu.complaints.push_back("PC sent " + card_hex_byte(vmu.pc_value) +
                                         " while the card was not listening");
            }
            vmu.pc_bits = 0;
            vmu.pc_value = 0;
        }
    }
}

bool vmu_sim_finished(const vmu_sim& vmu) {
    return vmu.frames_scripted && vmu.step >= vmu.script.size() && !vmu.sending && !vmu.awaiting_pc;
}
