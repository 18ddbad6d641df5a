// The card's thread: it takes the PC's writes from the ring as they come,
// runs the card's events one at a time as the clock reaches them, and
// publishes the status lines after each, then tells the card the tool's
// reads.
#include "vmu/card_realtime.h"

#include <time.h>

#include <algorithm>
#include <cstdlib>

#include "clock/monotonic_clock.h"
#include "clock/time_units.h"

namespace {

constexpr timespec ENDED_NAP{0, 1'000'000};
// How far the card may fall behind the clock before it stops catching up:
// run faster than real time, it would put out levels no tool could see.
// Past this the card's time stands still for the pause, as if the card
// itself had stopped, and goes on at the clock's pace.
constexpr card_ps MOST_LAG_PS = 5'000'000;

void publish(card_realtime& rt, std::uint8_t& published) {
    const std::uint8_t lines = rt.card->status_lines();
    if (lines != published) {
        rt.status.store(lines, std::memory_order_release);
        published = lines;
    }
    if (rt.card->watches_reads()) {
        const std::uint64_t last = rt.last_read.load(std::memory_order_relaxed);
        rt.card->pc_reads(last >> 8, static_cast<std::uint8_t>(last & 0xFF));
    }
}

// The PC's writes since the last look: all of them, or only the next where
// `one` (a card that looks at its pins between steps).
void take_writes(card_realtime& rt, std::uint64_t& next_write, bool one) {
    std::uint8_t value = 0;
    while (!rt.ring_overrun) {
        const write_ring_take take = write_ring_next(rt.writes, next_write, value);
        if (take == write_ring_take::overrun)
            rt.ring_overrun = true;  // the writes since are lost: take none
        if (take != write_ring_take::taken)
            return;
        rt.card->set_data(value);
        if (one)
            return;
    }
}

void card_loop(card_realtime& rt) {
    if (rt.prepare_thread != nullptr)
        rt.prepare_thread();
    soft_card& card = *rt.card;
    const card_ps look_every = card.look_every();
    std::int64_t wall_start = monotonic_ns();
    card_ps card_start = card.now();
    std::uint64_t next_write = 0;
    std::uint8_t published = 0xFF;
    publish(rt, published);
    // A card that looks at its pins between steps takes one write at each
    // look: at the clock, or every look_every of its time while behind it.
    card_ps next_look = card_start;

    while (!rt.stop.load(std::memory_order_relaxed)) {
        if (look_every == 0 || card.now() >= next_look || card.finished()) {
            take_writes(rt, next_write, look_every != 0);
            next_look = card.now() + look_every;
        }
        if (card.finished()) {
            publish(rt, published);
            nanosleep(&ENDED_NAP, nullptr);
            continue;
        }
        const std::int64_t now = monotonic_ns();
        const card_ps card_now = card.now();
        card_ps clock_ps = card_start + (now - wall_start) * PS_PER_NS;
        if (clock_ps > card_now + MOST_LAG_PS) {
            rt.longest_lag_ns = std::max(rt.longest_lag_ns, (clock_ps - card_now) / PS_PER_NS);
            wall_start = now;
            card_start = card_now;
            clock_ps = card_start;
        }
        if (clock_ps <= card.next_event())
            next_look = card_now;  // caught up: look again next time round
        // One event at a time, so that every level is published for as
        // long as it lasts.
        card.run_to(std::min(clock_ps, card.next_event()));
        publish(rt, published);
    }
    // The PC's last writes, made before it let go of the port (D3 falling
    // among them), reach the card all the same.
    take_writes(rt, next_write, false);
}

// The one running card, for the exit handler.
card_realtime* running = nullptr;

// The tool ends through exit(). Normally port_release has stopped the card
// by then; if not, this handler does, before any static object the thread
// uses is destroyed: it is registered after those objects were constructed,
// so it runs before their destructors.
void stop_at_exit() {
    if (running != nullptr)
        card_realtime_stop(*running);
}

}  // namespace

void card_realtime_start(card_realtime& rt, soft_card& card) {
    if (rt.thread.joinable())
        return;
    static const bool handler_registered = std::atexit(stop_at_exit) == 0;
    (void)handler_registered;
    rt.card = &card;
    rt.stop.store(false);
    rt.ring_overrun = false;
    rt.longest_lag_ns = 0;
    rt.tool_reads = 0;
    rt.last_read.store(0, std::memory_order_relaxed);
    write_ring_reset(rt.writes);
    rt.status.store(card.status_lines(), std::memory_order_release);
    rt.thread = std::thread(card_loop, std::ref(rt));  // may throw std::system_error
    running = &rt;
}

void card_realtime_stop(card_realtime& rt) {
    if (!rt.thread.joinable())
        return;
    rt.stop.store(true);
    rt.thread.join();
    running = nullptr;
}
