// The receiving card on the cable: entering and leaving "Waiting for data"
// with P7.3, SIO1 taking the PC's bytes and shifting the byte before out on
// SO1, the card's answers on SIO0, its events one after the other in its own
// time, and the PC's accesses as they cost in counting mode.
#include "vmu/copy_receive.h"

namespace {

// The card's clock while it receives: the ceramic oscillator, 6 MHz divided
// by 12.
constexpr card_ps CYCLE_PS = 2 * PS_PER_US;
constexpr card_ps LEVEL_PS = card_ps{CABLE_RECEIVE_LEVEL_US} * PS_PER_US;
constexpr card_ps REARM_PS = card_ps{CABLE_RECEIVE_REARM_US} * PS_PER_US;
// From the card's look at a header to its answer's first level. Not
// confirmed: an estimate from the routine's length.
constexpr std::int64_t REPLY_CYCLES = 30;
// The first header of a transfer keeps the card longer: the system ROM,
// run on the processor model, began its 0xE0 to it 107 ms after the tick
// at which it looked, and to every later header at that tick.
constexpr card_ps FIRST_REPLY_PS = 107'400 * PS_PER_US;
// From P7.3 rising to SO1 falling as the card enters "Waiting for data",
// and from there to SIO1 listening: a header sent sooner is lost.
constexpr card_ps ENTER_PS = 550 * PS_PER_MS;
constexpr card_ps FIRST_ARM_PS = 15 * PS_PER_MS;
// From the answer to the last frame of a file taken to the file list again.
constexpr card_ps RETURN_PS = 8'300 * PS_PER_MS;

card_ps after_cycles(const copy_receive& card, std::int64_t cycles) {
    return card.now_ps + cycles * CYCLE_PS;
}

std::string frame_label(const copy_receive& card) {
    return "frame " + std::to_string(card.frame + 1);
}

// Back to the file list: SIO off, its pins floating high.
void leave(copy_receive& card) {
    card.phase = receive_phase::file_list;
    card.screen = receive_screen::file_list;
    card.next_event_ps = RECEIVE_NO_EVENT;
    card.sio1_armed = false;
    card.so1_high = true;
    card.ack_high = true;
    card.busy_high = true;
}

void rearm_after(copy_receive& card, card_ps ps) {
    card.phase = receive_phase::rearming;
    card.next_event_ps = card.now_ps + ps;
}

// The card's look at a byte that may be a header: it sleeps between two
// base-timer ticks, so each header waits for the next one.
void look_later(copy_receive& card) {
    card.phase = receive_phase::looking;
    card.next_event_ps = card_next_tick(card.config.tick_phase_ps, card.now_ps);
}

void begin_answer(copy_receive& card, std::uint8_t answer) {
    if (card.answers_sent == card.config.stall_answer) {
        card.phase = receive_phase::stalled;
        card.next_event_ps = RECEIVE_NO_EVENT;
        card.notes.push_back("stopped answering before answer " +
                             std::to_string(card.answers_sent + 1) + ", in " + frame_label(card));
        return;
    }
    ++card.answers_sent;
    card.answer = answer;
    card.bit = 7;
    card.ack_high = false;
    card.busy_high = ((answer >> 7) & 1) != 0;
    card.phase = receive_phase::bit_low;
    card.next_event_ps = card.now_ps + LEVEL_PS;
}

void clock_high(copy_receive& card) {
    card.ack_high = true;
    card.next_event_ps = card.now_ps + LEVEL_PS;
    card.phase = card.bit > 0 ? receive_phase::bit_high : receive_phase::byte_end;
}

void clock_low(copy_receive& card) {
    --card.bit;
    card.ack_high = false;
    card.busy_high = ((card.answer >> card.bit) & 1) != 0;
    card.phase = receive_phase::bit_low;
    card.next_event_ps = card.now_ps + LEVEL_PS;
}

// The answer's last level is over: SIO1 is re-armed for the block code
// after 0xE0 and for the next header after a frame's answer, unless that
// answer ended the transfer.
void answer_done(copy_receive& card) {
    if (card.answer != HEADER_REPLY) {
        card.frame_bytes.clear();
        if (card.outcome == receive_outcome::taken) {
            // The system ROM, run on the processor model, shows "Waiting for
            // data" a moment more, then its first page with the new count
            // of free blocks, blind to P7.3, and its file list about 8.3 s
            // after the answer; the list takes a P7.3 already high.
            leave(card);
            card.phase = receive_phase::first_page;
            card.screen = receive_screen::first_page;
            card.next_event_ps = card.now_ps + RETURN_PS;
            return;
        }
        if (card.outcome != receive_outcome::none) {
            // Back in the file list, receive mode left. Not confirmed: what
            // the card shows in between.
            card.phase = receive_phase::ended;
            card.screen = receive_screen::file_list;
            card.next_event_ps = RECEIVE_NO_EVENT;
            return;
        }
    }
    rearm_after(card, REARM_PS);
}

// The card looks at the byte it took where a header was due.
void look(copy_receive& card) {
    const std::uint8_t header = card.frame_bytes.front();
    card.frame_length = cable_length_for(header);
    if (card.frame_length == 0) {
        card.notes.push_back("took " + card_hex_byte(header) + " where a header was due");
        card.frame_bytes.clear();
        rearm_after(card, REARM_PS);
        return;
    }
    const bool first = card.first_header;
    card.first_header = false;
    card.screen = receive_screen::receiving;
    card.phase = receive_phase::working;
    card.answer = HEADER_REPLY;
    card.next_event_ps = after_cycles(card, REPLY_CYCLES) + (first ? FIRST_REPLY_PS : 0);
}

void took_byte(copy_receive& card, std::uint8_t value) {
    if (card.bytes_taken == card.config.flip_byte) {
        value ^= 1;  // a bit the card took wrong: its register holds it so
        card.sbuf1 = value;
    }
    ++card.bytes_taken;
    card.taken.push_back(value);
    card.frame_bytes.push_back(value);
    if (card.frame_bytes.size() == 1) {
        look_later(card);
        return;
    }
    if (card.frame_bytes.size() < card.frame_length + 3) {
        rearm_after(card, REARM_PS);
        return;
    }
    const receive_verdict verdict = copy_receive_take_frame(card);
    ++card.frame;
    card.answer = verdict.answer;
    card.phase = receive_phase::working;
    card.next_event_ps = after_cycles(card, REPLY_CYCLES + verdict.work_cycles);
}

bool peer_high(const copy_receive& card, std::uint8_t data);

// One event of the card, at next_event_ps.
void act(copy_receive& card) {
    switch (card.phase) {
        case receive_phase::first_page:
            leave(card);
            if (peer_high(card, card.data) && !card.config.console_power) {
                card.phase = receive_phase::entering;
                card.next_event_ps = card.now_ps + ENTER_PS;
            }
            return;
        case receive_phase::entering:
            card.screen = receive_screen::waiting;
            card.first_header = true;
            card.frame = 0;
            card.frame_bytes.clear();
            card.outcome = receive_outcome::none;
            card.sbuf1 = 0;
            card.so1_high = false;  // the register's 0 on SO1
            rearm_after(card, FIRST_ARM_PS);
            return;
        case receive_phase::rearming:
            card.sio1_armed = true;
            card.sio1_bits = 0;
            card.phase = receive_phase::listening;
            card.next_event_ps = RECEIVE_NO_EVENT;
            return;
        case receive_phase::looking:
            look(card);
            return;
        case receive_phase::working:
            begin_answer(card, card.answer);
            return;
        case receive_phase::bit_low:
            clock_high(card);
            return;
        case receive_phase::bit_high:
            clock_low(card);
            return;
        case receive_phase::byte_end:
            answer_done(card);
            return;
        case receive_phase::file_list:
        case receive_phase::listening:
        case receive_phase::ended:
        case receive_phase::stalled:
            card.next_event_ps = RECEIVE_NO_EVENT;
            return;
    }
}

// P7.3 as the card sees it.
bool peer_high(const copy_receive& card, std::uint8_t data) {
    return card.config.peer_present && (data & DATA_OPEN) != 0;
}

void peer_changed(copy_receive& card, bool high) {
    if (card.phase == receive_phase::first_page)
        return;
    if (high) {
        // The file list switches to receive mode; not confirmed: a card in
        // a console ignores the second card.
        if (card.phase == receive_phase::file_list && !card.config.console_power) {
            card.phase = receive_phase::entering;
            card.next_event_ps = card.now_ps + ENTER_PS;
        }
        return;
    }
    if (card.phase == receive_phase::file_list)
        return;
    // The file is written: the card ends its answer and shows its first
    // page whatever P7.3 does.
    if (card.outcome == receive_outcome::taken)
        return;
    if (card.outcome == receive_outcome::none && card.phase != receive_phase::entering) {
        card.outcome = receive_outcome::abandoned;
        card.notes.push_back("the PC dropped D3 in " + frame_label(card) +
                             ": the card left receive mode, its files as they were");
    }
    leave(card);
}

void clock_edge(copy_receive& card, bool rising, bool bit) {
    if (!card.sio1_armed) {
        card.bits_lost += rising ? 1 : 0;
        return;
    }
    if (!rising) {
        card.so1_high = (card.sbuf1 & 0x80) != 0;
        return;
    }
    card.sbuf1 = static_cast<std::uint8_t>(card.sbuf1 << 1 | (bit ? 1 : 0));
    if (++card.sio1_bits < 8)
        return;
    card.sio1_armed = false;
    took_byte(card, card.sbuf1);
}

}  // namespace

const char* receive_screen_text(receive_screen screen) {
    switch (screen) {
        case receive_screen::first_page:
            return "the first page (Free, Game)";
        case receive_screen::file_list:
            return "the file list";
        case receive_screen::waiting:
            return "Waiting for data";
        case receive_screen::receiving:
            return "Receiving";
    }
    return "";
}

void copy_receive_start(copy_receive& card) {
    card.started = true;
    card.now_ps = 0;
    leave(card);
    if (card.config.first_page_ps > 0) {
        card.phase = receive_phase::first_page;
        card.screen = receive_screen::first_page;
        card.next_event_ps = card.config.first_page_ps;
    }
}

void copy_receive_run_to(copy_receive& card, card_ps until_ps) {
    while (card.next_event_ps <= until_ps) {
        card.now_ps = card.next_event_ps;
        act(card);
    }
    if (until_ps > card.now_ps)
        card.now_ps = until_ps;
}

void copy_receive_set_data(copy_receive& card, std::uint8_t value) {
    const std::uint8_t before = card.data;
    card.data = value;
    if (peer_high(card, before) != peer_high(card, value))
        peer_changed(card, peer_high(card, value));
    if (((before ^ value) & DATA_SEND_CLOCK) != 0)
        clock_edge(card, (value & DATA_SEND_CLOCK) != 0, (value & DATA_SEND_BIT) != 0);
}

bool copy_receive_finished(const copy_receive&) {
    return false;  // P7.3 may rise again
}

std::uint8_t copy_receive_status_lines(const copy_receive& card) {
    const bool select_high = !card.config.select_wired || card.so1_high;
    return cable_status_byte(select_high, card.ack_high, card.busy_high);
}

void copy_receive_reserve(copy_receive& card) {
    constexpr std::size_t most_blocks = 255;
    const std::size_t bytes = cable_frame_count(most_blocks) * (DATA_BLOCK_SIZE + 3);
    card.taken.reserve(bytes);
    card.frame_bytes.reserve(DATA_BLOCK_SIZE + 3);
    card.content.reserve(most_blocks * IMAGE_BLOCK_SIZE);
    card.placed.reserve(most_blocks);
    card.notes.reserve(8);
}

namespace {

void pc_access(copy_receive& card, card_ps cost_ps) {
    copy_receive_run_to(card, pc_access_time(card.pc, card.now_ps, cost_ps));
}

}  // namespace

std::uint8_t copy_receive_status_read(copy_receive& card) {
    pc_access(card, card.pc.access_ps);
    return copy_receive_status_lines(card);
}

void copy_receive_data_write(copy_receive& card, std::uint8_t value) {
    pc_access(card, card.pc.access_ps);
    copy_receive_set_data(card, value);
}

void copy_receive_delay(copy_receive& card, unsigned floor_us) {
    pc_access(card, card_ps{floor_us} * PS_PER_US);
}

void copy_receive_sleep(copy_receive& card, unsigned milliseconds) {
    pc_access(card, card_ps{milliseconds} * PS_PER_MS);
}
