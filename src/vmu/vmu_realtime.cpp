// The scripted card in real time, on the one runner: its levels timed in µs
// of the card's time, the levels that wait for the tool to poll, the card
// that samples its pins, and what it measures (the longest gap between the
// tool's reads while it clocks, the transfer's length); and its report.
#include <algorithm>
#include <cstddef>
#include <string>

#include "cable/cable.h"
#include "clock/time_units.h"
#include "vmu/vmu_sim_soft.h"

namespace {

// Whether the tool must be polling now: the card is clocking a byte, and not
// in the last level before the PC answers (the PC has then stopped reading to
// send) nor in a level that waits for the tool to begin.
bool clocking(const vmu_sim_soft& c) {
    const vmu_sim& card = c.vmu;
    if (!c.ready || c.hold_for_read || card.stalled || !card.sending)
        return false;
    const bool last_level = card.bit == 0 && card.half == 2;
    const bool answer_next = card.step >= card.script.size() || card.script[card.step] < 0;
    return !(last_level && answer_next);
}

// Whether the level the tool must read has been read twice: once by a read
// known to have seen it, and by the next, made while it still stood.
bool read_through(const vmu_sim_soft& c) {
    return !c.hold_for_read || (c.level_seen && c.reads > c.seen_by);
}

void note_finished(vmu_sim_soft& c) {
    if (c.ready && c.finished_at < 0 && vmu_sim_finished(c.vmu))
        c.finished_at = c.now_ps;
}

// The PC's data register reaches the card's decoder.
void feed(vmu_sim_soft& c, std::uint8_t value) {
    c.fed = value;
    if ((value & DATA_OPEN) != 0)
        c.open = true;
    const std::size_t heard = c.vmu.pc_bytes.size();
    vmu_sim_data_write(c.vmu, value);
    if (c.vmu.pc_bytes.size() != heard)
        c.hold_for_read = true;
    if (!c.ready && c.open && c.vmu.ready_after != VMU_NEVER) {
        c.ready = true;
        c.ready_at = c.now_ps;
        c.hold_for_read = true;
    }
    c.due = c.ready;
    note_finished(c);
}

// Ends the current level when its time is up (and, where it must be, the
// tool has polled it), and starts the next.
void advance(vmu_sim_soft& c) {
    vmu_sim& card = c.vmu;
    if (card.level_left > 0 && c.now_ps >= c.level_end && read_through(c)) {
        card.level_left = 0;
        c.hold_for_read = false;
    }
    if (card.level_left != 0)
        return;
    vmu_sim_next_level(card);
    if (card.level_left > 0) {
        c.level_end = c.now_ps + card_ps{card.level_left} * PS_PER_US;
        c.level_seen = false;
    }
}

}  // namespace

void vmu_sim_soft::start() {
    now_ps = 0;
    open = ready = due = false;
    ready_at = 0;
    finished_at = -1;
    level_end = 0;
    hold_for_read = level_seen = false;
    seen_by = reads = 0;
    pin = fed = -1;
    sample_at = NO_EVENT;
    gap_reads = 0;
    gap_first = gap_last = 0;
    result = {};
}

void vmu_sim_soft::reserve() {
    vmu.hold = config.hold_us;
    vmu.stop_on_wrong_byte = true;
    vmu_sim_prepare(vmu);
    // A growing record moves its buffers while the tool polls: room for a
    // whole transfer, an echo write and an echo bit per bit the card sends,
    // 16 writes per byte from the PC.
    std::size_t card_bytes = 0;
    std::size_t pc_bytes = 0;
    for (std::int16_t step : vmu.script)
        ++(step >= 0 ? card_bytes : pc_bytes);
    vmu.echo_bits.reserve(vmu.echo_bits.size() + 8 * card_bytes);
    vmu.data_writes.reserve(vmu.data_writes.size() + 8 * card_bytes + 16 * pc_bytes + 16);
    vmu.pc_bytes.reserve(vmu.pc_bytes.size() + pc_bytes + 1);
    vmu.complaints.reserve(vmu.complaints.size() + 4);
}

void vmu_sim_soft::release() {
    vmu.released = true;
    result.finished = finished_at >= 0;
    if (result.finished)
        result.transfer_ns = (finished_at - ready_at) / PS_PER_NS;
}

card_ps vmu_sim_soft::next_event() const {
    card_ps event = sample_at;
    if (!ready)
        return event;
    if (due)
        return std::min(event, now_ps);
    if (vmu.level_left > 0 && read_through(*this))
        return std::min(event, std::max(level_end, now_ps));
    return event;  // waiting for the PC, or for the tool to poll
}

void vmu_sim_soft::run_to(card_ps until) {
    while (true) {
        const card_ps event = next_event();
        if (event > until)
            break;
        now_ps = std::max(now_ps, event);
        if (sample_at <= now_ps) {
            sample_at = NO_EVENT;
            const int value = pin;
            pin = -1;
            if (value >= 0 && value != fed)
                feed(*this, static_cast<std::uint8_t>(value));
        }
        if (ready) {
            due = false;
            advance(*this);
            note_finished(*this);
        }
    }
    now_ps = std::max(now_ps, until);
}

void vmu_sim_soft::set_data(std::uint8_t value) {
    const card_ps period = card_ps{config.sample_us} * PS_PER_US;
    if (period == 0) {
        feed(*this, value);
        return;
    }
    // Seen at the card's next sampling instant, if nothing replaces it first.
    pin = value;
    if (sample_at == NO_EVENT)
        sample_at = (now_ps + period - 1) / period * period;
}

bool vmu_sim_soft::finished() const {
    if (vmu.stalled || (open && vmu.ready_after == VMU_NEVER))
        return true;
    return ready && pin < 0 && vmu_sim_finished(vmu);
}

// The longest stretch without a status read while clocking. The count was
// seen unchanged from gap_first to gap_last, so the read before happened
// before gap_first and the read after it after gap_last: the gap is at least
// their distance.
void vmu_sim_soft::pc_reads(std::uint64_t count, std::uint8_t last_read) {
    reads = count;
    // The lines of a level that waits differ from those before it (Ack or
    // Select changes), so a read that returned them was made during it.
    if (hold_for_read && !level_seen && vmu.level_left > 0 && last_read == status_lines()) {
        level_seen = true;
        seen_by = count;
    }
    const bool must_poll = clocking(*this);
    if (must_poll && count == gap_reads) {
        gap_last = now_ps;
        return;
    }
    if (must_poll) {
        result.longest_gap_ns = std::max(result.longest_gap_ns, (gap_last - gap_first) / PS_PER_NS);
    }
    gap_reads = count;
    gap_first = gap_last = now_ps;
}

std::string vmu_realtime_report(const vmu_sim_soft& card) {
    const vmu_realtime_result& r = card.result;
    std::string text;
    const auto line = [&text](const char* key, long long value) {
        text += std::string(key) + " " + std::to_string(value) + "\n";
    };
    line("finished", r.finished ? 1 : 0);
    line("transfer_ns", r.transfer_ns);
    line("longest_gap_ns", r.longest_gap_ns);
    line("longest_card_pause_ns", r.longest_pause_ns);
    text += "status_reads " + std::to_string(r.status_reads) + "\n";
    text += "pc_bytes " + std::to_string(card.vmu.pc_bytes.size()) + "\n";
    line("ring_overrun", r.ring_overrun ? 1 : 0);
    text += "stray_accesses " + std::to_string(r.stray_accesses) + "\n";
    for (const std::string& complaint : card.vmu.complaints)
        text += "complaint " + complaint + "\n";
    return text;
}
