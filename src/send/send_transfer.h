// The transfer of one file to the card in "Waiting for data": D3 raised,
// the first header repeated until the card looks (it looks once per tick of
// its base timer) or a bound passes, then every frame in order, each header
// answered with 0xE0 and each frame with 0x0C or 0x0A, every byte checked
// against the card's echo on Select. The card's answers are put in words;
// on any failure D3 drops, and the card leaves receive mode with its files
// as they were.
#pragma once

#include <cstdint>
#include <cstdio>

#include "clock/monotonic_clock.h"
#include "lpt/lpt.h"
#include "send/send_file.h"

/// The time of the card's pace, in nanoseconds from any start: the
/// machine's clock, or a counting software card's own time.
using send_clock = std::int64_t (*)();

struct send_settings {
    bool echo_check = true;
    bool quiet = false;  // no progress and no closing line
    std::FILE* err = stderr;
    send_clock clock = monotonic_ns;  // times the progress and the closing line
};

/// Whether the first header may go `waited_ms` after D3 rose, Select having
/// read low for the last `low_ms` (0: high): once the card has had its time
/// to switch to "Waiting for data", and never within the first moments
/// after Select fell, when the card loses a header.
bool send_first_header_due(unsigned waited_ms, unsigned low_ms);

/// Runs the transfer on an opened port (send_open) and leaves it with D3
/// low. Returns 0 when the card accepted the last frame, else 1 after the
/// reason on `settings.err`.
int send_transfer(lpt_port& port, const send_item& item, const send_settings& settings);

/// How a frame of the transfer is named in messages: "the start frame",
/// "the name frame", "block 3" (both frames of its four pieces), "the
/// directory frame", "the last frame".
std::string send_frame_words(std::size_t index, std::size_t blocks);

/// The progress line after `done` of `total` blocks, `seconds` after the
/// first: "block 3 of 12, 0.95 blocks/s, 9 s left".
std::string send_progress_line(std::size_t done, std::size_t total, double seconds);
