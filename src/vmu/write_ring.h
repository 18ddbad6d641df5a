// The PC's data writes, handed from the tool's thread to a card's thread
// without a lock. The tool stores each write into the next slot of a ring;
// the card takes them in order whenever it looks, so it sees every level the
// PC held even after its own thread was paused. A slot holds the value in
// its low 8 bits and the ring's lap (from 1, 24 bits wide) above: the card
// tells a fresh write from one it has taken, and from one a lap too new,
// which means it fell a whole ring behind and writes were lost.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

/// Writes the ring holds: far more than the tool makes while a card's thread
/// may be paused on a loaded machine.
inline constexpr std::size_t WRITE_RING_SLOTS = std::size_t{1} << 16;

struct write_ring {
    alignas(64) std::array<std::atomic<std::uint32_t>, WRITE_RING_SLOTS> slots{};
    // The tool's side, on a cache line of its own: only the tool's thread
    // touches it while the card runs.
    alignas(64) std::uint64_t written = 0;
};

/// The lap of the write numbered `number` (from 0), as a slot holds it.
constexpr std::uint32_t write_ring_lap(std::uint64_t number) {
    return static_cast<std::uint32_t>(number / WRITE_RING_SLOTS + 1) & 0xFFFFFF;
}

/// Empties the ring. Every slot is stored to, so that no page of it faults
/// in during a transfer. Before the card's thread starts.
inline void write_ring_reset(write_ring& ring) {
    for (std::atomic<std::uint32_t>& slot : ring.slots)
        slot.store(0, std::memory_order_relaxed);
    ring.written = 0;
}

/// The PC writes the data register: one atomic store. Tool's thread only.
inline void write_ring_put(write_ring& ring, std::uint8_t value) {
    const std::uint64_t number = ring.written++;
    ring.slots[number % WRITE_RING_SLOTS].store(write_ring_lap(number) << 8 | value,
                                                std::memory_order_release);
}

enum class write_ring_take {
    taken,    // the next write is in `value`, and `next` counts past it
    none,     // the tool has not written it yet
    overrun,  // the tool has written a whole ring since: writes are lost
};

/// The write numbered `next`, which the card takes next. Card's thread only.
inline write_ring_take write_ring_next(const write_ring& ring, std::uint64_t& next,
                                       std::uint8_t& value) {
    const std::uint32_t slot = ring.slots[next % WRITE_RING_SLOTS].load(std::memory_order_acquire);
    const std::uint32_t lap = write_ring_lap(next);
    if (slot >> 8 == lap) {
        value = static_cast<std::uint8_t>(slot & 0xFF);
        ++next;
        return write_ring_take::taken;
    }
    return slot >> 8 == ((lap - 1) & 0xFFFFFF) ? write_ring_take::none : write_ring_take::overrun;
}
