// The scripted card in real time (vmu_sim_soft.h, on the runner of
// card_realtime.h): how it is set up, and what it measured. It shows what
// the counting card cannot: how long a pause of the tool a transfer
// survives, and how a card that polls its input pins slowly hears the PC's
// bytes.
#pragma once

#include <cstdint>

/// How the real-time cards are set up (vmurx-emu --realtime).
struct vmu_realtime_config {
    int hold_us = 10;        // each Ack level of the scripted card, in µs
    int sample_us = 0;       // how often it looks at D0/D1; 0: it sees every level
    bool raise_tool = true;  // masking raises the tool's priority where permitted
};

/// What the scripted card measured in real time, valid once its run is over.
struct vmu_realtime_result {
    bool finished = false;              // every frame sent and every answer heard
    std::int64_t transfer_ns = -1;      // from the ready signal to the last answer
    std::int64_t longest_gap_ns = 0;    // longest time without a status read while clocking
    std::int64_t longest_pause_ns = 0;  // longest pause of the card's thread (the runner's lag)
    std::uint64_t status_reads = 0;
    bool ring_overrun = false;         // the card fell more than a ring behind the PC
    std::uint64_t stray_accesses = 0;  // accesses at another address, which the link must not make
};
