// The Copy card's thread: it takes the PC's writes from the ring as they
// come, runs the card's events one at a time as the clock reaches them, and
// publishes the status lines after each.
#include "vmu/copy_realtime.h"

#include <time.h>

#include <algorithm>

#include "clock/monotonic_clock.h"

namespace {

constexpr std::int64_t PS_PER_NS = 1'000;
constexpr timespec ENDED_NAP{0, 1'000'000};
// How far the card may fall behind the clock before it stops catching up:
// run faster than real time, it would put out levels no tool could see.
// Past this the card's time stands still for the pause, as if the card
// itself had stopped, and goes on at the clock's pace.
constexpr std::int64_t MOST_LAG_PS = 5'000'000;

void publish(copy_realtime& rt, std::uint8_t& published) {
    const std::uint8_t lines = copy_card_status_lines(*rt.card);
    if (lines != published) {
        rt.status.store(lines, std::memory_order_release);
        published = lines;
    }
}

void take_writes(copy_realtime& rt, std::uint64_t& next_write) {
    std::uint8_t value = 0;
    while (!rt.ring_overrun) {
        const write_ring_take take = write_ring_next(rt.writes, next_write, value);
        if (take == write_ring_take::overrun)
            rt.ring_overrun = true;  // the writes since are lost: take none
        if (take != write_ring_take::taken)
            return;
        copy_card_set_data(*rt.card, value);
    }
}

void card_loop(copy_realtime& rt) {
    if (rt.prepare_thread != nullptr)
        rt.prepare_thread();
    copy_card& card = *rt.card;
    std::int64_t wall_start = monotonic_ns();
    std::int64_t card_start = card.now_ps;
    std::uint64_t next_write = 0;
    std::uint8_t published = 0xFF;
    publish(rt, published);

    while (!rt.stop.load(std::memory_order_relaxed)) {
        take_writes(rt, next_write);
        if (copy_card_finished(card)) {
            publish(rt, published);
            nanosleep(&ENDED_NAP, nullptr);
            continue;
        }
        const std::int64_t now = monotonic_ns();
        std::int64_t clock_ps = card_start + (now - wall_start) * PS_PER_NS;
        if (clock_ps > card.now_ps + MOST_LAG_PS) {
            rt.longest_lag_ns = std::max(rt.longest_lag_ns, (clock_ps - card.now_ps) / PS_PER_NS);
            wall_start = now;
            card_start = card.now_ps;
            clock_ps = card_start;
        }
        // One event at a time, so that every level is published for as
        // long as it lasts.
        copy_card_run_to(card, std::min(clock_ps, card.next_event_ps));
        publish(rt, published);
    }
}

}  // namespace

void copy_realtime_start(copy_realtime& rt, copy_card& card) {
    rt.card = &card;
    rt.stop.store(false);
    rt.ring_overrun = false;
    rt.longest_lag_ns = 0;
    write_ring_reset(rt.writes);
    // Room for everything the card records, so that no buffer grows during
    // the transfer: a page fault or a move there is a pause of the card.
    std::size_t bytes = 0;
    for (const vmu_frame& frame : card.frames)
        bytes += frame.payload.size() + 4;
    card.echoes.reserve(bytes + 8);
    card.pc_bytes.reserve(2 * card.frames.size() + 4);
    card.notes.reserve(4);
    rt.status.store(copy_card_status_lines(card), std::memory_order_release);
    rt.thread = std::thread(card_loop, std::ref(rt));  // may throw std::system_error
}

void copy_realtime_stop(copy_realtime& rt) {
    if (!rt.thread.joinable())
        return;
    rt.stop.store(true);
    rt.thread.join();
}
