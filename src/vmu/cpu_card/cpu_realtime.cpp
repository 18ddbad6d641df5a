// The processor card's thread: it runs the model up to the monotonic clock,
// takes the PC's writes from the ring one at a time, and publishes the
// status lines whenever the card's outputs change.
#include "vmu/cpu_card/cpu_realtime.h"

#include <time.h>

#include <algorithm>

#include "clock/monotonic_clock.h"
#include "clock/time_units.h"

namespace {

// The most card time that passes between two looks at the ring, so that a
// level the PC held while the card's thread was paused still lasts this long
// for the card, longer than the sender's 5 µs poll.
constexpr std::uint64_t LOOK_EVERY_PS = 10'000'000;
constexpr timespec ENDED_NAP{0, 1'000'000};
// How far the card may fall behind the clock before it stops catching up:
// run faster than real time, the model would put out levels no tool could
// see. Past this the card's time stands still for the pause, as if the card
// itself had stopped, and goes on at the clock's pace.
constexpr std::uint64_t MOST_LAG_PS = 5'000'000;

void publish(cpu_realtime& rt, std::uint8_t& published) {
    const std::uint8_t lines = cpu_card_status_lines(*rt.card);
    if (lines != published) {
        rt.status.store(lines, std::memory_order_release);
        published = lines;
    }
}

void card_loop(cpu_realtime& rt) {
    if (rt.prepare_thread != nullptr)
        rt.prepare_thread();
    vmu_cpu_card& card = *rt.card;
    std::int64_t wall_start = monotonic_ns();
    std::uint64_t card_start = card.cpu.time_ps;
    std::uint64_t next_write = 0;
    std::uint8_t published = 0xFF;
    publish(rt, published);

    while (!rt.stop.load(std::memory_order_relaxed)) {
        std::uint8_t value = 0;
        switch (rt.ring_overrun ? write_ring_take::none
                                : write_ring_next(rt.writes, next_write, value)) {
            case write_ring_take::taken:
                if (card.opened_ps < 0)
                    card.opened_ps = static_cast<std::int64_t>(card.cpu.time_ps);
                cpu_card_set_data(card, value);
                ++card.data_writes;
                break;
            case write_ring_take::overrun:
                rt.ring_overrun = true;  // the writes since are lost: take none
                break;
            case write_ring_take::none:
                break;
        }
        if (card.cpu.state != vmu_cpu_state::running) {
            nanosleep(&ENDED_NAP, nullptr);
            continue;
        }
        const std::int64_t now = monotonic_ns();
        std::uint64_t clock_ps =
            card_start + static_cast<std::uint64_t>(now - wall_start) * PS_PER_NS;
        if (clock_ps > card.cpu.time_ps + MOST_LAG_PS) {
            rt.longest_lag_ns =
                std::max(rt.longest_lag_ns,
                         static_cast<std::int64_t>((clock_ps - card.cpu.time_ps) / PS_PER_NS));
            wall_start = now;
            card_start = card.cpu.time_ps;
            clock_ps = card_start;
        }
        const std::uint64_t until = std::min(clock_ps, card.cpu.time_ps + LOOK_EVERY_PS);
        while (card.cpu.time_ps < until && card.cpu.state == vmu_cpu_state::running) {
            cpu_card_step(card);
            publish(rt, published);
        }
    }
    card.target_cycle = card.cpu.cycles;
}

}  // namespace

void cpu_realtime_start(cpu_realtime& rt, vmu_cpu_card& card) {
    rt.card = &card;
    rt.stop.store(false);
    rt.ring_overrun = false;
    write_ring_reset(rt.writes);
    rt.status.store(cpu_card_status_lines(card), std::memory_order_release);
    rt.thread = std::thread(card_loop, std::ref(rt));
}

void cpu_realtime_stop(cpu_realtime& rt) {
    if (!rt.thread.joinable())
        return;
    rt.stop.store(true);
    rt.thread.join();
}
