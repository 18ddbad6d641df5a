// Copy's behaviour on the cable: the card's events one after the other in
// its own time (a clock edge, the end of a gap, a listen that times out, a
// base-timer tick), and the PC's writes as they come.
#include "vmu/copy_card.h"

#include <algorithm>

namespace {

// The card's steps in cycles of its RC clock (÷6).
constexpr std::int64_t HALF_BIT_CYCLES = 8;  // a bit is 16 cycles, SCK0 low then high
// From A going down to SO1 falling the card runs on its quartz: a time, not
// cycles. Then it draws "Copying" on its RC clock before the first header.
constexpr card_ps PRESS_TO_SELECT_PS = 25 * PS_PER_MS;
constexpr std::int64_t SETUP_CYCLES = 6'104;  // 42 ms at 872 kHz
constexpr std::int64_t BYTE_GAP_CYCLES = 72;  // end of one byte to the next: 495 µs at 872 kHz
// From the end of the PC's answer to the next header, by the frame that
// header begins; the card reads its flash for the data frames and builds
// the flash frames. At 872 kHz: name 1.50 ms, first data 11.1, a later data
// 9.48, flash 12.9, directory 1.47, last flash 1.06.
constexpr std::int64_t NAME_GAP_CYCLES = 218;
constexpr std::int64_t FIRST_DATA_GAP_CYCLES = 1'613;
constexpr std::int64_t DATA_GAP_CYCLES = 1'378;
constexpr std::int64_t FLASH_GAP_CYCLES = 1'875;
constexpr std::int64_t DIRECTORY_GAP_CYCLES = 214;
constexpr std::int64_t LAST_FLASH_GAP_CYCLES = 154;
// Before the abort frame, which the card sends at once after its answer.
// Not confirmed: the cycles it takes.
constexpr std::int64_t FRAME_GAP_CYCLES = 154;
// The card's own work between the end of its byte and SIO1 listening, and
// between a base-timer tick and the next byte. Not confirmed: estimates from
// the routines' lengths.
constexpr std::int64_t ARM_CYCLES = 10;
constexpr std::int64_t WAKE_CYCLES = 75;

constexpr int LISTEN_TICKS = 6;  // an awaited byte times out after 2.5 to 3 s

card_ps after_cycles(const copy_card& card, std::int64_t cycles) {
    return card.now_ps + cycles * copy_card_cycle_ps(card);
}

// The first base-timer tick strictly after `ps`.
card_ps next_tick(const copy_card& card, card_ps ps) {
    return card_next_tick(card.config.tick_phase_ps, ps);
}

void end_copy(copy_card& card, copy_screen screen) {
    card.screen = screen;
    card.phase = copy_phase::ended;
    card.ended_ps = card.now_ps;
    // Back in the file manager, SIO's pins are inputs again and float.
    card.select_high = true;
    card.ack_high = true;
    card.busy_high = true;
}

void fail(copy_card& card, copy_screen screen, std::string note) {
    card.notes.push_back(std::move(note));
    end_copy(card, screen);
}

void begin_frame(copy_card& card, const vmu_frame& frame) {
    card.frame_bytes.clear();
    card.frame_bytes.push_back(frame.header);
    card.frame_bytes.push_back(frame.code);
    card.frame_bytes.insert(card.frame_bytes.end(), frame.payload.begin(), frame.payload.end());
    card.frame_bytes.push_back(frame.trailer);
    card.index = 0;
    card.echo_mismatch = false;
}

// The next byte after a gap of `cycles`, or the stall a test asked for.
void next_byte_after(copy_card& card, std::int64_t cycles) {
    card.phase = copy_phase::gap;
    card.next_event_ps = after_cycles(card, cycles);
}

void listen(copy_card& card, bool reply) {
    card.awaiting_reply = reply;
    card.phase = copy_phase::arming;
    card.next_event_ps = after_cycles(card, ARM_CYCLES);
}

// SCK0 falls: the next bit goes out on SO0.
void clock_low(copy_card& card) {
    if (card.bit == 7 && card.bytes_sent == card.config.stall_byte) {
        card.phase = copy_phase::stalled;
        card.ended_ps = card.now_ps;
        return;
    }
    card.ack_high = false;
    card.busy_high = ((card.frame_bytes[card.index] >> card.bit) & 1) != 0;
    card.phase = copy_phase::bit_low;
    card.next_event_ps = after_cycles(card, HALF_BIT_CYCLES);
}

// Whether the echo taken during byte `index` of the frame is checked: from
// the block code to the trailer in a short frame, during the code and the
// first data byte in a data frame. The echo during a header never is.
bool echo_checked(const copy_card& card, std::size_t index) {
    if (index == 0 || card.aborting)
        return false;  // nor is the abort frame's: the card ends Copy after it whatever came
    return card.frame_bytes[0] != CABLE_HEADER_FULL || index <= 2;
}

// SCK0 rises: the card takes the PC's echo bit from SI0.
void clock_high(copy_card& card) {
    card.ack_high = true;
    card.echo = static_cast<std::uint8_t>(card.echo << 1 | ((card.data & DATA_ECHO) != 0 ? 1 : 0));
    card.next_event_ps = after_cycles(card, HALF_BIT_CYCLES);
    if (card.bit > 0) {
        --card.bit;
        card.phase = copy_phase::bit_high;
        return;
    }
    card.phase = copy_phase::byte_end;  // the last bit's high level, then the byte is done
}

void start_byte(copy_card& card) {
    card.bit = 7;
    card.echo = 0;
    clock_low(card);
}

// The cycles from the PC's answer to the header of frame `next`.
std::int64_t gap_before(const copy_card& card, std::size_t next) {
    switch (card.frames[next].code) {
        case BLOCK_CODE_NAME:
            return NAME_GAP_CYCLES;
        case BLOCK_CODE_DATA:
            return next == 2 ? FIRST_DATA_GAP_CYCLES : DATA_GAP_CYCLES;
        case BLOCK_CODE_DIRECTORY:
            return DIRECTORY_GAP_CYCLES;
        case BLOCK_CODE_FLASH:
            return card.frames[next - 1].code == BLOCK_CODE_DIRECTORY ? LAST_FLASH_GAP_CYCLES
                                                                      : FLASH_GAP_CYCLES;
        default:
            return FRAME_GAP_CYCLES;
    }
}

// The next frame after its gap, or the end of Copy after the last.
void next_frame(copy_card& card) {
    if (card.aborting || card.frame + 1 >= card.frames.size()) {
        end_copy(card, card.aborting ? copy_screen::copy_failed : copy_screen::copied);
        return;
    }
    ++card.frame;
    begin_frame(card, card.frames[card.frame]);
    next_byte_after(card, gap_before(card, card.frame));
}

// The card builds the start, name and directory frames in one buffer and
// the flash frames over their first four bytes; the frame whose bytes the
// buffer holds when a fault comes. The directory frame is built before the
// card waits for the answer to the frame before it.
std::size_t buffered_frame(const copy_card& card, bool answered) {
    std::size_t last = card.frame;
    if (answered && last + 1 < card.frames.size() &&
        card.frames[last + 1].code == BLOCK_CODE_DIRECTORY)
        ++last;
    for (std::size_t f = last + 1; f-- > 0;) {
        const std::uint8_t code = card.frames[f].code;
        if (code == BLOCK_CODE_START || code == BLOCK_CODE_NAME || code == BLOCK_CODE_DIRECTORY)
            return f;
    }
    return 0;
}

// The abort frame is 10 0B 00 FF written over that buffer, sent with as
// many bytes as the frame built there had: the rest of it follows.
void send_abort(copy_card& card) {
    card.aborting = true;
    begin_frame(card, card.frames[card.abort_from]);
    if (card.frame_bytes.size() < 4)
        card.frame_bytes.resize(4);
    card.frame_bytes[0] = cable_header_for(1);
    card.frame_bytes[1] = COPY_CODE_ABORT;
    card.frame_bytes[2] = 0x00;
    card.frame_bytes[3] = CABLE_TRAILER;
    next_byte_after(card, FRAME_GAP_CYCLES);
}

// A fault after the start: a wrong or missing reply, an echo mismatch, a
// refused or missing answer to a frame after the name. While the second
// card is still there the card waits once more for an answer, and sends the
// abort frame only if that answer is 0x0C; else, or without one, it shows
// "Copy failed". `answered`: the frame was sent whole and its answer was
// due.
void fault(copy_card& card, bool answered) {
    const bool peer =
        card.config.peer_present && (card.data & DATA_OPEN) != 0 && !card.config.console_power;
    if (card.aborting || card.recovering || !peer) {
        end_copy(card, copy_screen::copy_failed);
        return;
    }
    card.recovering = true;
    card.abort_from = buffered_frame(card, answered);
    listen(card, false);
}

void byte_done(copy_card& card) {
    ++card.bytes_sent;
    card.echoes.push_back(card.echo);
    if (echo_checked(card, card.index) && card.echo != card.frame_bytes[card.index - 1]) {
        if (!card.echo_mismatch) {
            card.notes.push_back("frame " + std::to_string(card.frame + 1) + ", byte " +
                                 std::to_string(card.index) + ": the PC echoed " +
                                 card_hex_byte(card.echo) + " for " +
                                 card_hex_byte(card.frame_bytes[card.index - 1]));
        }
        card.echo_mismatch = true;
    }
    const bool header = card.index == 0;
    const bool trailer = card.index + 1 == card.frame_bytes.size();
    if (header) {
        listen(card, true);
    } else if (!trailer) {
        ++card.index;
        next_byte_after(card, BYTE_GAP_CYCLES);
    } else if (card.aborting || (!card.frames[card.frame].await_answer && !card.echo_mismatch)) {
        next_frame(card);
    } else if (card.echo_mismatch) {
        fault(card, false);
    } else {
        listen(card, false);
    }
}

// The PC's byte arrived while the card listened.
void took_byte(copy_card& card, std::uint8_t value) {
    card.pc_bytes.push_back({value, card.now_ps});
    if (!card.awaiting_reply)
        card.answered_ps = card.now_ps;
    if (card.awaiting_reply) {
        if (value != HEADER_REPLY) {
            card.notes.push_back("the PC replied " + card_hex_byte(value) +
                                 " to a header, not 0xE0");
            fault(card, false);
            return;
        }
        // The card sleeps until the base timer wakes it.
        card.phase = copy_phase::asleep;
        card.next_event_ps = next_tick(card, card.now_ps);
        return;
    }
    if (value == 0x00) {
        // Where it waits for an answer the card passes over a 0x00 and
        // listens on, its time limit running.
        card.sio1_bits = 0;
        card.sio1_value = 0;
        return;
    }
    if (card.recovering) {
        if (value == BLOCK_ACK)
            send_abort(card);
        else
            end_copy(card, copy_screen::copy_failed);
        return;
    }
    if (value == BLOCK_ACK) {
        next_frame(card);
        return;
    }
    // Anything but 0x0C is a refusal: of the start frame "Not enough free
    // memory", of the name frame "Same file exists", of a later frame a
    // fault.
    std::string note =
        "the PC answered frame " + std::to_string(card.frame + 1) + " with " + card_hex_byte(value);
    if (card.frame <= 1) {
        fail(card, card.frame == 0 ? copy_screen::not_enough_memory : copy_screen::same_file_exists,
             std::move(note));
        return;
    }
    card.notes.push_back(std::move(note));
    fault(card, true);
}

void press(copy_card& card) {
    const bool peer = card.config.peer_present && (card.data & DATA_OPEN) != 0;
    if (!peer || card.config.console_power) {
        card.screen = copy_screen::connect_vm;
        card.phase = copy_phase::ended;
        card.ended_ps = card.now_ps;
        card.notes.push_back(card.config.console_power
                                 ? "the console's 5 V is present"
                                 : "no second card: P7.3 (the PC's D3) is low");
        return;
    }
    if (card.config.copy_protected) {
        fail(card, copy_screen::unable_to_copy, "the file is copy-protected");
        return;
    }
    card.phase = copy_phase::pressed;
    card.next_event_ps = card.now_ps + PRESS_TO_SELECT_PS;
}

// One event of the card, at next_event_ps.
void act(copy_card& card) {
    switch (card.phase) {
        case copy_phase::before_press:
            press(card);
            return;
        case copy_phase::pressed:
            card.screen = copy_screen::copying;
            card.select_high = !card.config.select_wired;
            card.phase = copy_phase::setup;
            card.next_event_ps = after_cycles(card, SETUP_CYCLES);
            return;
        case copy_phase::setup:
            if (card.frames.empty()) {
                end_copy(card, copy_screen::copied);
                return;
            }
            card.frame = 0;
            begin_frame(card, card.frames[0]);
            start_byte(card);
            return;
        case copy_phase::bit_low:
            clock_high(card);
            return;
        case copy_phase::bit_high:
            clock_low(card);
            return;
        case copy_phase::byte_end:
            byte_done(card);
            return;
        case copy_phase::gap:
            start_byte(card);
            return;
        case copy_phase::arming:
            card.phase = copy_phase::listening;
            card.sio1_bits = 0;
            card.sio1_value = 0;
            card.next_event_ps = card.now_ps;
            for (int tick = 0; tick < LISTEN_TICKS; ++tick)
                card.next_event_ps = next_tick(card, card.next_event_ps);
            return;
        case copy_phase::listening: {
            if (card.recovering) {
                end_copy(card, copy_screen::copy_failed);  // no answer: no abort frame
                return;
            }
            std::string note = std::string("no ") + (card.awaiting_reply ? "reply" : "answer") +
                               " from the PC to frame " + std::to_string(card.frame + 1);
            if (card.aborting) {
                fail(card, copy_screen::copy_failed, std::move(note));
                return;
            }
            // No answer counts as a refusal.
            if (!card.awaiting_reply && card.frame <= 1) {
                fail(card,
                     card.frame == 0 ? copy_screen::not_enough_memory
                                     : copy_screen::same_file_exists,
                     std::move(note));
                return;
            }
            card.notes.push_back(std::move(note));
            fault(card, !card.awaiting_reply);
            return;
        }
        case copy_phase::asleep:
            card.phase = copy_phase::gap;
            ++card.index;
            card.next_event_ps = after_cycles(card, WAKE_CYCLES);
            return;
        case copy_phase::ended:
        case copy_phase::stalled:
            return;
    }
}

bool waits_for_time(const copy_card& card) {
    return card.phase != copy_phase::ended && card.phase != copy_phase::stalled;
}

}  // namespace

card_ps copy_card_cycle_ps(const copy_card& card) {
    // The RC oscillator divided by six.
    const std::int64_t khz = card.config.rc_khz != 0 ? card.config.rc_khz : 1;
    return 6 * PS_PER_MS / khz;
}

void copy_card_reserve(copy_card& card) {
    std::size_t bytes = 0;
    for (const vmu_frame& frame : card.frames)
        bytes += frame.payload.size() + 4;
    card.echoes.reserve(bytes + 8);
    card.pc_bytes.reserve(2 * card.frames.size() + 4);
    card.notes.reserve(4);
}

void copy_card_start(copy_card& card) {
    card.started = true;
    card.now_ps = 0;
    card.phase = copy_phase::before_press;
    card.next_event_ps = card.config.press_ps;
}

void copy_card_run_to(copy_card& card, card_ps until_ps) {
    while (waits_for_time(card) && card.next_event_ps <= until_ps) {
        card.now_ps = card.next_event_ps;
        act(card);
    }
    if (until_ps > card.now_ps)
        card.now_ps = until_ps;
}

void copy_card_set_data(copy_card& card, std::uint8_t value) {
    const std::uint8_t before = card.data;
    card.data = value;
    if (card.phase == copy_phase::ended && card.screen == copy_screen::connect_vm &&
        (before & DATA_OPEN) == 0 && (value & DATA_OPEN) != 0 && card.config.peer_present) {
        card.screen = copy_screen::copy_prompt;  // a second card came: "Copy ?" again
    }
    const bool rising = (before & DATA_SEND_CLOCK) == 0 && (value & DATA_SEND_CLOCK) != 0;
    if (!rising || card.phase != copy_phase::listening)
        return;
    card.sio1_value =
        static_cast<std::uint8_t>(card.sio1_value << 1 | ((value & DATA_SEND_BIT) != 0 ? 1 : 0));
    if (++card.sio1_bits == 8)
        took_byte(card, card.sio1_value);
}

std::uint8_t copy_card_status_lines(const copy_card& card) {
    return cable_status_byte(card.select_high, card.ack_high, card.busy_high);
}

bool copy_card_finished(const copy_card& card) {
    return !waits_for_time(card);
}

namespace {

// The PC's access at the card's present time plus what it costs.
void pc_access(copy_card& card, card_ps cost_ps) {
    copy_card_run_to(card, pc_access_time(card.pc, card.now_ps, cost_ps));
}

}  // namespace

std::uint8_t copy_card_status_read(copy_card& card) {
    pc_access(card, card.pc.access_ps);
    if (card.answered_ps >= 0) {
        card.longest_turn_ps = std::max(card.longest_turn_ps, card.now_ps - card.answered_ps);
        card.answered_ps = -1;
    }
    return copy_card_status_lines(card);
}

void copy_card_data_write(copy_card& card, std::uint8_t value) {
    pc_access(card, card.pc.access_ps);
    copy_card_set_data(card, value);
}

void copy_card_delay(copy_card& card, unsigned floor_us) {
    pc_access(card, card_ps{floor_us} * PS_PER_US);
}

void copy_card_sleep(copy_card& card, unsigned milliseconds) {
    pc_access(card, card_ps{milliseconds} * PS_PER_MS);
}
