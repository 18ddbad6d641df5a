// A software card run in real time: the card on a thread of its own, its
// time paced by the monotonic clock instead of counted from the tool's
// accesses. It shows what counting cannot: whether the tool, polling as fast
// as it can on this machine, follows the card's levels as they really last
// and answers within the card's half bit, and whether its work between
// frames fits the card's gaps. Every card of soft_card.h runs so: the card's
// own file manager sending (copy_card) and receiving (copy_receive), and the
// processor card (cpu_card).
//
// The tool and the card share, as atomics only, the status register (the
// card stores it when a line changes, the tool loads it on every read) and a
// ring of the PC's data writes (one store per write), so that the card takes
// every level the PC held, in order, even after its thread was paused.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "vmu/soft_card.h"
#include "vmu/write_ring.h"

struct card_realtime {
    /// Called first on the card's thread, to raise its scheduling; nothing
    /// when null.
    void (*prepare_thread)() = nullptr;
    soft_card* card = nullptr;

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
void card_realtime_start(card_realtime& rt, soft_card& card);

/// Stops and joins the card's thread. Does nothing when it is not running.
void card_realtime_stop(card_realtime& rt);
