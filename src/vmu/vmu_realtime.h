// The software VMU in real time: the same simulated card (vmu_sim: its
// script of frames, its faults, its decoding of the PC's D0/D1 bits) run on
// a thread of its own that keeps time by the monotonic clock instead of
// counting status reads. It shows what the counting card cannot: how long a
// pause of the tool a transfer survives, and how a card that polls its input
// pins slowly hears the PC's bytes.
//
// The tool and the card share three things, all atomics, and nothing else:
//  - the status register, which the card stores when a line changes and the
//    tool loads on every port_read;
//  - a ring of the PC's data writes, one atomic store per port_write, so the
//    card sees every level the PC held even when its thread was paused;
//  - a count of the tool's status reads (a relaxed store beside the load),
//    from which the card learns when the tool polls and how long it did not.
// Everything else in the record belongs to the card thread while it runs,
// and to whoever calls vmu_realtime_start and vmu_realtime_stop before and
// after it: starting and joining the thread order those accesses.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

#include "vmu/vmu_sim.h"
#include "vmu/write_ring.h"

/// How the real-time card is set up (vmurx-emu --realtime).
struct vmu_realtime_config {
    int hold_us = 10;        // each Ack level, in µs
    int sample_us = 0;       // how often the card looks at D0/D1; 0: it sees every level
    bool raise_tool = true;  // masking raises the tool's priority where permitted
    /// Called first on the card's thread, to raise its scheduling (the card
    /// knows nothing of the machine); nothing when null.
    void (*prepare_thread)() = nullptr;
};

/// What the card measured, valid after vmu_realtime_stop.
struct vmu_realtime_result {
    bool finished = false;              // every frame sent and every answer heard
    std::int64_t transfer_ns = -1;      // from the ready signal to the last answer
    std::int64_t longest_gap_ns = 0;    // longest time without a status read while clocking
    std::int64_t longest_pause_ns = 0;  // longest time between two looks of the card itself
    std::uint64_t status_reads = 0;
    bool ring_overrun = false;  // the card fell more than a ring behind the PC
};

struct vmu_realtime {
    vmu_realtime_config config;
    vmu_sim* card = nullptr;

    // Shared with the tool, each on a cache line of its own so that the
    // tool's reads do not contend with the card's stores.
    alignas(64) std::atomic<std::uint8_t> status{0xFF};
    alignas(64) std::atomic<std::uint64_t> reads{0};
    write_ring writes;
    alignas(64) std::atomic<bool> stop{false};

    // The tool's side: only the tool's thread touches these.
    alignas(64) std::uint64_t tool_reads = 0;
    std::uint64_t tool_stray = 0;  // accesses at another address, which the link must not make

    std::thread thread;
    vmu_realtime_result result;
};

/// The raw status register: one atomic load, plus the relaxed store that
/// lets the card see the read. Called from the tool's thread only.
inline std::uint8_t vmu_realtime_read(vmu_realtime& rt) {
    rt.reads.store(++rt.tool_reads, std::memory_order_relaxed);
    return rt.status.load(std::memory_order_acquire);
}

/// The PC writes the data register: one atomic store into the ring. Tool
/// thread only.
inline void vmu_realtime_write(vmu_realtime& rt, std::uint8_t value) {
    write_ring_put(rt.writes, value);
}

/// Starts the card thread on `card`, which it then owns until
/// vmu_realtime_stop. The process stops it at exit if nobody else has.
void vmu_realtime_start(vmu_realtime& rt, vmu_sim& card);

/// Stops and joins the card thread and fills `rt.result`. Does nothing when
/// the thread is not running.
void vmu_realtime_stop(vmu_realtime& rt);

/// What the card measured, a line per figure ("finished 1", "transfer_ns
/// ..."), then a line per complaint of the card about the PC: the report a
/// program may store after vmu_realtime_stop.
std::string vmu_realtime_report(const vmu_realtime& rt);
