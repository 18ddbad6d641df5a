// The real-time card's thread: it takes the PC's writes from the ring (all of
// them, or only what the register holds at each sampling instant), feeds them
// to the simulated card's decoder, moves the card on to its next level when
// the current one has lasted its time, publishes the status lines, and
// watches the tool's read count.
//
// The card cannot know when the tool starts to poll, and the tool has pauses
// of its own between frames (progress output, the wait after the ready
// signal, the delay unit that ends a sent byte). So the first level after the
// ready signal and after every byte from the PC lasts until the tool has read
// the register during it, as in the counting card, whose time passes only
// with reads. Every other level lasts its time exactly, and a tool that does
// not poll through it loses the bit, as with a real card.
#include "vmu/vmu_realtime.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "cable/cable.h"
#include "clock/monotonic_clock.h"
#include "clock/time_units.h"

namespace {

constexpr timespec IDLE_NAP{0, 1'000'000};  // 1 ms between looks once the card has nothing to do

// The card thread's own timing state.
struct card_timing {
    bool open = false;   // the PC has raised D3
    bool ready = false;  // Select is low
    std::int64_t ready_at = 0;
    std::int64_t finished_at = -1;

    std::uint8_t published = 0xFF;
    std::int64_t level_end = 0;
    bool hold_for_read = false;  // the current or next level waits for the tool to poll
    std::uint64_t reads_at_level = 0;

    std::uint64_t next_write = 0;  // number of the next ring entry to take
    std::int64_t next_sample = 0;
    int fed = -1;  // the last data value given to the card

    std::uint64_t gap_reads = 0;
    std::int64_t gap_first = 0;
    std::int64_t gap_last = 0;
};

void publish(vmu_realtime& rt, card_timing& t) {
    const std::uint8_t lines = vmu_sim_status_lines(*rt.card, t.ready);
    if (lines != t.published) {
        rt.status.store(lines, std::memory_order_release);
        t.published = lines;
    }
}

void feed(vmu_realtime& rt, card_timing& t, std::uint8_t value) {
    t.fed = value;
    if ((value & DATA_OPEN) != 0)
        t.open = true;
    vmu_sim_data_write(*rt.card, value);
}

// Takes the PC's new writes. A card that samples sees only what the register
// holds at each of its instants; a level that falls between two is lost.
void take_writes(vmu_realtime& rt, card_timing& t, std::int64_t now) {
    const std::int64_t period = std::int64_t{rt.config.sample_us} * NS_PER_US;
    if (period > 0) {
        if (now < t.next_sample)
            return;
        t.next_sample += period;
        if (t.next_sample <= now)
            t.next_sample = now + period;  // the thread was paused: skip what was missed
    }
    int latest = -1;
    std::uint8_t value = 0;
    while (true) {
        const write_ring_take take = write_ring_next(rt.writes, t.next_write, value);
        if (take == write_ring_take::overrun) {
            // The tool has written a whole ring since: the card is lost.
            rt.result.ring_overrun = true;
            rt.card->stalled = true;
        }
        if (take != write_ring_take::taken)
            break;
        if (period == 0) {
            feed(rt, t, value);
        } else {
            latest = value;
        }
    }
    if (latest >= 0 && latest != t.fed)
        feed(rt, t, static_cast<std::uint8_t>(latest));
}

// Ends the current level when its time is up (and, after a pause, the tool
// has polled it), and starts the next.
void advance(vmu_realtime& rt, card_timing& t, std::int64_t now) {
    vmu_sim& card = *rt.card;
    if (card.level_left > 0 && now >= t.level_end) {
        // Two reads: the first may have loaded the status before the level
        // was published.
        if (!t.hold_for_read || rt.reads.load(std::memory_order_relaxed) >= t.reads_at_level + 2) {
            card.level_left = 0;
            t.hold_for_read = false;
        }
    }
    if (card.level_left != 0)
        return;
    vmu_sim_next_level(card);
    publish(rt, t);
    if (card.level_left > 0) {
        t.level_end = now + std::int64_t{card.level_left} * NS_PER_US;
        t.reads_at_level = rt.reads.load(std::memory_order_relaxed);
    }
}

// Whether the tool must be polling now: the card is clocking a byte, and not
// in the last level before the PC answers (the PC has then stopped reading to
// send) nor in a level that waits for the tool to begin.
bool clocking(const vmu_sim& card, const card_timing& t) {
    if (!t.ready || t.hold_for_read || card.stalled || !card.sending)
        return false;
    const bool last_level = card.bit == 0 && card.half == 2;
    const bool answer_next = card.step >= card.script.size() || card.script[card.step] < 0;
    return !(last_level && answer_next);
}

// The longest stretch without a status read while clocking. The count was
// seen unchanged from gap_first to gap_last, so the read before happened
// before gap_first and the read after it after gap_last: the gap is at least
// their distance, even when this thread itself was paused in between.
void measure_gap(vmu_realtime& rt, card_timing& t) {
    const std::int64_t before = monotonic_ns();
    const std::uint64_t reads = rt.reads.load(std::memory_order_relaxed);
    const bool must_poll = clocking(*rt.card, t);
    if (must_poll && reads == t.gap_reads) {
        t.gap_last = before;
        return;
    }
    if (must_poll)
        rt.result.longest_gap_ns = std::max(rt.result.longest_gap_ns, t.gap_last - t.gap_first);
    t.gap_reads = reads;
    t.gap_first = t.gap_last = monotonic_ns();
}

void run_card(vmu_realtime& rt) {
    // The card stands for hardware, which no other program pauses: whoever
    // runs it raises its thread as far as the machine permits.
    if (rt.config.prepare_thread != nullptr)
        rt.config.prepare_thread();

    vmu_sim& card = *rt.card;
    card_timing t;
    t.next_sample = monotonic_ns();
    std::int64_t last_look = monotonic_ns();
    while (!rt.stop.load(std::memory_order_acquire)) {
        const std::int64_t now = monotonic_ns();
        // A card thread that was paused cannot keep its own time: the report
        // says so, and a bench can discard the run.
        if (t.ready && t.finished_at < 0 && !card.stalled)
            rt.result.longest_pause_ns = std::max(rt.result.longest_pause_ns, now - last_look);
        last_look = now;
        const std::size_t heard = card.pc_bytes.size();
        take_writes(rt, t, now);
        if (card.pc_bytes.size() != heard)
            t.hold_for_read = true;
        if (!t.ready && t.open && card.ready_after != VMU_NEVER) {
            t.ready = true;
            t.ready_at = now;
            t.hold_for_read = true;
            publish(rt, t);
        }
        if (t.ready)
            advance(rt, t, now);
        measure_gap(rt, t);
        if (t.ready && t.finished_at < 0 && vmu_sim_finished(card))
            t.finished_at = monotonic_ns();

        const bool nothing_to_do =
            card.stalled || t.finished_at >= 0 || (t.open && card.ready_after == VMU_NEVER);
        if (nothing_to_do) {
            nanosleep(&IDLE_NAP, nullptr);
            last_look = monotonic_ns();
        }
    }
    rt.result.finished = t.finished_at >= 0;
    if (t.finished_at >= 0)
        rt.result.transfer_ns = t.finished_at - t.ready_at;
}

// The one running card, for the exit handler.
vmu_realtime* running = nullptr;

// The tool ends through exit(). Normally port_release has stopped the card
// by then; if not, this handler does, before any static object the thread
// uses is destroyed: it is registered after those objects were constructed,
// so it runs before their destructors.
void stop_at_exit() {
    if (running != nullptr)
        vmu_realtime_stop(*running);
}

}  // namespace

void vmu_realtime_start(vmu_realtime& rt, vmu_sim& card) {
    if (rt.thread.joinable())
        return;
    static const bool handler_registered = std::atexit(stop_at_exit) == 0;
    (void)handler_registered;

    card.hold = rt.config.hold_us;
    card.stop_on_wrong_byte = true;
    vmu_sim_prepare(card);

    // Nothing may fault in a page during the transfer: a first write to a
    // ring page the card thread has already read costs a copy-on-write fault
    // and a TLB shootdown that stops the tool's core for tens of
    // microseconds, and a growing record moves its buffers. So every ring
    // page is written now, and the record gets room for a whole transfer:
    // an echo write and an echo bit per bit the card sends, 16 writes per
    // byte from the PC.
    write_ring_reset(rt.writes);
    std::size_t card_bytes = 0;
    std::size_t pc_bytes = 0;
    for (std::int16_t step : card.script)
        ++(step >= 0 ? card_bytes : pc_bytes);
    card.echo_bits.reserve(card.echo_bits.size() + 8 * card_bytes);
    card.data_writes.reserve(card.data_writes.size() + 8 * card_bytes + 16 * pc_bytes + 16);
    card.pc_bytes.reserve(card.pc_bytes.size() + pc_bytes + 1);
    card.complaints.reserve(card.complaints.size() + 4);

    rt.card = &card;
    rt.result = vmu_realtime_result{};
    rt.stop.store(false, std::memory_order_relaxed);
    rt.status.store(vmu_sim_status_lines(card, false), std::memory_order_relaxed);
    rt.thread = std::thread(run_card, std::ref(rt));  // may throw std::system_error
    running = &rt;
}

void vmu_realtime_stop(vmu_realtime& rt) {
    if (!rt.thread.joinable())
        return;
    rt.stop.store(true, std::memory_order_release);
    rt.thread.join();
    running = nullptr;
    rt.result.status_reads = rt.tool_reads;
}

std::string vmu_realtime_report(const vmu_realtime& rt) {
    const vmu_realtime_result& r = rt.result;
    std::string text;
    const auto line = [&text](const char* key, long long value) {
        text += std::string(key) + " " + std::to_string(value) + "\n";
    };
    line("finished", r.finished ? 1 : 0);
    line("transfer_ns", r.transfer_ns);
    line("longest_gap_ns", r.longest_gap_ns);
    line("longest_card_pause_ns", r.longest_pause_ns);
    text += "status_reads " + std::to_string(r.status_reads) + "\n";
    text += "pc_bytes " + std::to_string(rt.card->pc_bytes.size()) + "\n";
    line("ring_overrun", r.ring_overrun ? 1 : 0);
    text += "stray_accesses " + std::to_string(rt.tool_stray) + "\n";
    for (const std::string& complaint : rt.card->complaints)
        text += "complaint " + complaint + "\n";
    return text;
}
