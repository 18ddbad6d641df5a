// The timing run: the status register polled in a loop as tight as the
// receive loop, with one clock read per status read so that every gap
// between two reads is measured.
#include <unistd.h>

#include <algorithm>

#include "clock/monotonic_clock.h"
#include "lpt/byte_exchange.h"
#include "lpt/lpt.h"
#include "platform/platform.h"
#include "probe/probe.h"

namespace {

// Only the card's three lines count as a change; the port's other status
// bits may float on a cable that does not drive them.
constexpr std::uint8_t LINE_BITS = STATUS_SELECT | STATUS_ACK | STATUS_BUSY;

// The cost of one clock read: the shortest of a few batches, since anything
// longer is a pause of the process and not the clock.
double measure_clock_read() {
    constexpr int BATCHES = 5;
    constexpr int READS = 20'000;
    std::int64_t shortest = INT64_MAX;
    for (int batch = 0; batch < BATCHES; ++batch) {
        const std::int64_t start = monotonic_ns();
        std::int64_t last = start;
        for (int i = 0; i < READS; ++i)
            last = monotonic_ns();
        shortest = std::min(shortest, last - start);
    }
    return static_cast<double>(shortest) / READS;
}

// The length of the link's delay unit on this processor, the shortest of a
// few batches for the same reason.
double measure_delay_unit_us() {
    constexpr int BATCHES = 20;
    constexpr int DELAYS = 5;
    // The loop alone: the floor, reported on its own, would hide it.
    std::int64_t shortest = INT64_MAX;
    for (int batch = 0; batch < BATCHES; ++batch) {
        const std::int64_t start = monotonic_ns();
        for (int i = 0; i < DELAYS; ++i)
            port_delay_unit(0);
        shortest = std::min(shortest, monotonic_ns() - start);
    }
    return static_cast<double>(shortest) / DELAYS / 1'000.0;
}

// The tool's work between two frames, but for its data write: with -v it
// prints and flushes a progress line. The raise and lower of its priority
// (mask, unmask), which the tool makes before its answer rather than after
// it, are counted here too, as a safe upper bound. Timed PROBE_TURNS times. On a
// terminal the progress lines overwrite each other; elsewhere they go to
// /dev/null, so that a report kept in a file holds none of them but the
// write is still timed.
void measure_turns(std::FILE* out, probe_measurement& measurement) {
    const bool terminal = isatty(fileno(out)) == 1;
    std::FILE* progress = terminal ? out : std::fopen("/dev/null", "w");
    std::array<std::int64_t, PROBE_TURNS> turns{};
    for (int turn = 0; turn < PROBE_TURNS; ++turn) {
        const std::int64_t start = monotonic_ns();
        unmask_interrupts();
        mask_interrupts();
        if (progress != nullptr) {
            std::fprintf(progress, "Timing the work between frames: %d of %d\r", turn + 1,
                         PROBE_TURNS);
            std::fflush(progress);
        }
        turns[static_cast<std::size_t>(turn)] = monotonic_ns() - start;
    }
    if (terminal)
        std::fprintf(out, "%*s\r", 45, "");
    else if (progress != nullptr)
        std::fclose(progress);
    std::sort(turns.begin(), turns.end());
    measurement.turn_longest_ns = turns.back();
    measurement.turn_median_ns = turns[turns.size() / 2];
}

const char* level(std::uint8_t pins, std::uint8_t line) {
    return (pins & line) != 0 ? "high" : "low";
}

// Counts the lines that changed between two reads and, when watching, prints
// them with the time since the start of the run.
void note_change(std::uint8_t before, std::uint8_t after, std::int64_t since_start_ns, bool watch,
                 std::FILE* out, probe_measurement& measurement) {
    const std::uint8_t changed = before ^ after;
    const std::uint8_t pins = after ^ STATUS_XOR;
    static constexpr std::uint8_t BITS[PROBE_LINES] = {STATUS_SELECT, STATUS_ACK, STATUS_BUSY};
    static constexpr const char* NAMES[PROBE_LINES] = {"Select", "Ack", "Busy"};
    if (watch)
        std::fprintf(out, "  %11.6f s ", static_cast<double>(since_start_ns) / 1e9);
    const char* separator = " ";
    for (int line = 0; line < PROBE_LINES; ++line) {
        if ((changed & BITS[line]) == 0)
            continue;
        ++measurement.changes[static_cast<std::size_t>(line)];
        if (!watch)
            continue;
        std::fprintf(out, "%s%s %s", separator, NAMES[line], level(pins, BITS[line]));
        if (line == PROBE_SELECT)
            std::fputs((pins & STATUS_SELECT) != 0 ? " (no card ready)" : " (card ready)", out);
        separator = ", ";
    }
    if (watch) {
        std::fputc('\n', out);
        std::fflush(out);
    }
}

}  // namespace

void probe_measure(std::uint16_t status_address, std::uint8_t first_status,
                   std::int64_t duration_ms, bool watch, std::FILE* out,
                   probe_measurement& measurement) {
    measurement = probe_measurement{};
    measurement.first_status = first_status;
    mask_interrupts();
    measurement.clock_read_ns = measure_clock_read();
    measurement.delay_unit_us = measure_delay_unit_us();

    // Kept in locals, whose address nothing outside sees, so the loop keeps
    // them in registers and on its own stack across the port reads.
    std::array<std::uint64_t, PROBE_BUCKETS> gaps{};
    std::int64_t longest = 0;
    std::int64_t longest_end = 0;
    std::uint64_t reads = 1;

    std::uint8_t last = first_status & LINE_BITS;
    std::uint8_t status = port_read(status_address) & LINE_BITS;
    const std::int64_t start = monotonic_ns();
    const std::int64_t end = start + duration_ms * 1'000'000;
    std::int64_t previous = start;
    while (true) {
        if (status != last) {
            note_change(last, status, previous - start, watch, out, measurement);
            last = status;
            if (watch && previous < end) {
                // The printing lies in the gap before the next read, which
                // is therefore not measured.
                status = port_read(status_address) & LINE_BITS;
                const std::int64_t now = monotonic_ns();
                measurement.excluded_ns += now - previous;
                ++measurement.excluded;
                ++reads;
                previous = now;
                continue;
            }
        }
        if (previous >= end)
            break;
        // The measured loop: one status read, one clock read, the gap sorted
        // into its bucket, and nothing else until a line changes or the time
        // is up.
        do {
            status = port_read(status_address) & LINE_BITS;
            const std::int64_t now = monotonic_ns();
            const std::int64_t gap = now - previous;
            previous = now;
            ++gaps[probe_bucket(gap)];
            if (gap > longest) {
                longest = gap;
                longest_end = now;
            }
            ++reads;
        } while (status == last && previous < end);
    }
    measure_turns(out, measurement);
    unmask_interrupts();

    measurement.reads = reads;
    measurement.gaps = gaps;
    measurement.elapsed_ns = previous - start;
    measurement.longest_ns = longest;
    measurement.longest_end_ns = longest > 0 ? longest_end - start : 0;
}
