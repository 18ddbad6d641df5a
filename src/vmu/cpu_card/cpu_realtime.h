// The processor card in real time: the same model running the sender, on a
// thread of its own that paces the card's cycles by the monotonic clock
// instead of counting the tool's accesses. It shows what counting cannot:
// whether the tool, polling without pause, follows the sender's levels as
// they really last, and whether the sender's gaps cover the tool's own
// pauses (its progress output between frames).
//
// The tool and the card share, as atomics only, the status register (the
// card stores it when a line changes, the tool loads it on every read) and a
// ring of the PC's data writes (one store per write), so that the card takes
// every level the PC held, in order, even after its thread was paused.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

#include "vmu/cpu_card/cpu_card.h"
#include "vmu/write_ring.h"

struct cpu_realtime {
    /// Called first on the card's thread, to raise its scheduling; nothing
    /// when null.
    void (*prepare_thread)() = nullptr;
    vmu_cpu_card* card = nullptr;

    alignas(64) std::atomic<std::uint8_t> status{0xFF};
    write_ring writes;
    alignas(64) std::atomic<bool> stop{false};

    std::thread thread;
    /// Measured by the card's thread, valid after cpu_realtime_stop: the
    /// longest pause of the card's thread, beyond a few µs, during which the
    /// card's time stood still.
    std::int64_t longest_lag_ns = 0;
    /// The card fell more than a ring behind the PC and took no write since:
    /// its input pins hold the last level it took.
    bool ring_overrun = false;
};

/// The raw status register: one atomic load. Tool thread only.
inline std::uint8_t cpu_realtime_read(cpu_realtime& rt) {
    return rt.status.load(std::memory_order_acquire);
}

/// The PC writes the data register: one atomic store into the ring. Tool
/// thread only.
inline void cpu_realtime_write(cpu_realtime& rt, std::uint8_t value) {
    write_ring_put(rt.writes, value);
}

/// Starts the card's thread on `card`, which it owns until cpu_realtime_stop.
void cpu_realtime_start(cpu_realtime& rt, vmu_cpu_card& card);

/// Stops and joins the card's thread. Does nothing when it is not running.
void cpu_realtime_stop(cpu_realtime& rt);
