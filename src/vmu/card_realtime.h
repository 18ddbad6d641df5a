// A card model that keeps its time in picoseconds, run in real time: the
// model on a thread of its own, its time paced by the monotonic clock
// instead of counted from the tool's accesses. It shows what counting
// cannot: whether the tool, polling as fast as it can on this machine,
// follows the card's levels as they really last and answers within the
// card's half bit, and whether its work between frames fits the card's gaps.
// The card's own file manager runs so, sending (copy_card) and receiving
// (copy_receive).
//
// The tool and the card share, as atomics only, the status register (the
// card stores it when a line changes, the tool loads it on every read) and a
// ring of the PC's data writes (one store per write).
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "vmu/write_ring.h"

/// What the thread needs of a card: the card's record and the functions
/// over it. The card keeps its present time and the time of its next event.
struct timed_card {
    void* card = nullptr;
    void (*set_data)(void* card, std::uint8_t value) = nullptr;
    std::uint8_t (*status_lines)(const void* card) = nullptr;
    bool (*finished)(const void* card) = nullptr;  // no event will come
    std::int64_t (*now_ps)(const void* card) = nullptr;
    std::int64_t (*next_event_ps)(const void* card) = nullptr;
    void (*run_to)(void* card, std::int64_t until_ps) = nullptr;
};

/// The timed_card of a record `Card` that keeps its time in fields now_ps
/// and next_event_ps, with its functions.
template <typename Card, void (*SetData)(Card&, std::uint8_t),
          std::uint8_t (*StatusLines)(const Card&), bool (*Finished)(const Card&),
          void (*RunTo)(Card&, std::int64_t)>
timed_card timed_card_of(Card& card) {
    timed_card timed;
    timed.card = &card;
    timed.set_data = [](void* c, std::uint8_t value) { SetData(*static_cast<Card*>(c), value); };
    timed.status_lines = [](const void* c) { return StatusLines(*static_cast<const Card*>(c)); };
    timed.finished = [](const void* c) { return Finished(*static_cast<const Card*>(c)); };
    timed.now_ps = [](const void* c) { return static_cast<const Card*>(c)->now_ps; };
    timed.next_event_ps = [](const void* c) { return static_cast<const Card*>(c)->next_event_ps; };
    timed.run_to = [](void* c, std::int64_t until_ps) { RunTo(*static_cast<Card*>(c), until_ps); };
    return timed;
}

struct card_realtime {
    /// Called first on the card's thread, to raise its scheduling; nothing
    /// when null.
    void (*prepare_thread)() = nullptr;
    timed_card card;

    alignas(64) std::atomic<std::uint8_t> status{0xFF};
    write_ring writes;
    alignas(64) std::atomic<bool> stop{false};

    std::thread thread;
    /// Measured by the card's thread, valid after card_realtime_stop: the
    /// longest pause of the card's own thread, beyond a few µs, during which
    /// the card's time stood still.
    std::int64_t longest_lag_ns = 0;
    /// The card fell more than a ring behind the PC and took no write since.
    bool ring_overrun = false;
};

/// The raw status register: one atomic load. Tool thread only.
inline std::uint8_t card_realtime_read(card_realtime& rt) {
    return rt.status.load(std::memory_order_acquire);
}

/// The PC writes the data register: one atomic store into the ring. Tool
/// thread only.
inline void card_realtime_write(card_realtime& rt, std::uint8_t value) {
    write_ring_put(rt.writes, value);
}

/// Starts the card's thread on `card` (started, and with room reserved for
/// what it records), which it owns until card_realtime_stop.
void card_realtime_start(card_realtime& rt, const timed_card& card);

/// Stops and joins the card's thread. Does nothing when it is not running.
void card_realtime_stop(card_realtime& rt);
