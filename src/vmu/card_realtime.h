// A software card run in real time: the card on a thread of its own, its
// time paced by the monotonic clock instead of counted from the tool's
// accesses. It shows what counting cannot: whether the tool, polling as fast
// as it can on this machine, follows the card's levels as they really last
// and answers within the card's half bit, and whether its work between
// frames fits the card's gaps. Every card of soft_card.h runs so: the card's
// own file manager sending (copy_card) and receiving (copy_receive), the
// processor card (cpu_card) and the scripted card (vmu_sim_soft).
//
// The tool and the card share, as atomics only, the status register (the
// card stores it when a line changes, the tool loads it on every read), a
// ring of the PC's data writes (one store per write), so that the card takes
// every level the PC held, in order, even after its thread was paused, and
// the tool's last status read (its number and what it read, one relaxed
// store after the load), which a card that holds a level until the tool has
// read it (the scripted card) is told after each publication of its lines:
// the number alone could not say that the read saw the level, since the
// tool's store may reach the card's core after later loads of the status.
// Everything else belongs to the card's thread while it runs, and to whoever
// calls card_realtime_start and card_realtime_stop before and after it.
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

    // Shared with the tool, each on a cache line of its own so that the
    // tool's reads do not contend with the card's stores.
    alignas(64) std::atomic<std::uint8_t> status{0xFF};
    alignas(64) std::atomic<std::uint64_t> last_read{0};  // the read's number << 8, its value
    write_ring writes;
    alignas(64) std::atomic<bool> stop{false};

    // The tool's side: only the tool's thread touches it.
    alignas(64) std::uint64_t tool_reads = 0;

    std::thread thread;
    /// Measured by the card's thread, valid after card_realtime_stop: the
    /// longest pause of the card's own thread, beyond a few µs, during which
    /// the card's time stood still.
    std::int64_t longest_lag_ns = 0;
    /// The card fell more than a ring behind the PC and took no write since.
    bool ring_overrun = false;
};

/// The raw status register: one atomic load, plus the relaxed store that
/// lets the card see the read. Tool thread only.
inline std::uint8_t card_realtime_read(card_realtime& rt) {
    const std::uint8_t value = rt.status.load(std::memory_order_acquire);
    rt.last_read.store(++rt.tool_reads << 8 | value, std::memory_order_relaxed);
    return value;
}

/// The PC writes the data register: one atomic store into the ring. Tool
/// thread only.
inline void card_realtime_write(card_realtime& rt, std::uint8_t value) {
    write_ring_put(rt.writes, value);
}

/// Starts the card's thread on `card` (started, and with room reserved for
/// what it records), which it owns until card_realtime_stop. The process
/// stops it at exit if nobody else has.
void card_realtime_start(card_realtime& rt, soft_card& card);

/// Stops and joins the card's thread. Does nothing when it is not running.
void card_realtime_stop(card_realtime& rt);
