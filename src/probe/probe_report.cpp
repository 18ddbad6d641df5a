// The summary of a timing run: read rate and cost, the gap histogram with
// log-scaled bars, the longest gap, the line changes, the permissions the
// run had, the delay unit, and the verdict.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "cable/cable.h"
#include "lpt/byte_exchange.h"
#include "probe/probe.h"

namespace {

constexpr int BAR_WIDTH = 40;

// A machine that pauses the loop for longer than this rules out cards that
// clock briskly; the warning points to the remedies.
constexpr std::int64_t WARN_ABOVE_US = 100;

// Padded by hand: "µ" takes two bytes but one column.
constexpr const char* BUCKET_LABELS[PROBE_BUCKETS] = {
    "up to 1 µs  ", "1-2 µs      ", "2-5 µs      ", "5-10 µs     ", "10-20 µs    ",
    "20-50 µs    ", "50-100 µs   ", "100 µs-1 ms ", "over 1 ms   ",
};

void print_grant(const char* what, probe_grant grant, const probe_port_facts& facts,
                 std::FILE* out) {
    std::fprintf(out, "  %-15s ", what);
    switch (grant) {
        case probe_grant::granted:
            std::fputs("granted", out);
            break;
        case probe_grant::refused:
            std::fputs("refused", out);
            break;
        case probe_grant::not_applicable:
            std::fprintf(out, "not applicable to %s", facts.path.c_str());
            break;
    }
}

// The floor vmurx would put under one delay unit in this environment: the
// program's default (delay_floor_us() before any measurement: against the
// software card the one vmurx-emu sets, 50 µs for the card's own Copy, 0 for
// --scripted and the counting --cpu), or what VMURX_DELAY_US says, read as
// vmurx reads it. False when the variable is not valid.
bool effective_delay_floor(unsigned& floor_us) {
    const char* text = std::getenv(DELAY_FLOOR_VARIABLE);
    floor_us = delay_floor_us();
    return text == nullptr || parse_delay_floor(text, floor_us);
}

// The cost of one status read: a round of the loop less the clock's read.
double read_cost_ns(const probe_measurement& m, std::uint64_t measured) {
    if (measured == 0)
        return 0.0;
    const double round_ns =
        static_cast<double>(m.elapsed_ns - m.excluded_ns) / static_cast<double>(measured);
    return std::max(0.0, round_ns - m.clock_read_ns);
}

void print_delay_floor(std::FILE* out) {
    const char* text = std::getenv(DELAY_FLOOR_VARIABLE);
    unsigned floor_us = 0;
    if (!effective_delay_floor(floor_us)) {
        std::fprintf(out, "  delay floor:    %s is not valid; vmurx refuses to run with it\n",
                     DELAY_FLOOR_VARIABLE);
        return;
    }
    const char* source = text == nullptr ? "the default" : DELAY_FLOOR_VARIABLE;
    if (floor_us == 0) {
        std::fprintf(out, "  delay floor:    none (%s): the bare loop\n", source);
    } else {
        std::fprintf(out, "  delay floor:    %u µs (%s)\n", floor_us, source);
    }
}

// The rate of the status reads and the cost of one. `measured` is the number
// of gaps measured.
void print_reads(const probe_measurement& m, const probe_port_facts& facts, std::uint64_t measured,
                 std::FILE* out) {
    const double seconds = static_cast<double>(m.elapsed_ns) / 1e9;
    const double round_ns = measured > 0 ? static_cast<double>(m.elapsed_ns - m.excluded_ns) /
                                               static_cast<double>(measured)
                                         : 0.0;
    const double read_ns = read_cost_ns(m, measured);
    std::fprintf(out, "  status reads:   %llu in %.3f s, %.0f per second\n",
                 static_cast<unsigned long long>(m.reads), seconds,
                 seconds > 0 ? static_cast<double>(m.reads) / seconds : 0.0);
    std::fprintf(out,
                 "  read cost:      %.0f ns per read via %s (%.0f ns per round, less %.0f ns for "
                 "the clock)\n",
                 read_ns, facts.path.c_str(), round_ns, m.clock_read_ns);
}

// The histogram of the gaps, how many were measured and the longest.
void print_gaps(const probe_measurement& m, std::uint64_t measured, std::FILE* out) {
    std::fputs("Gaps between consecutive reads:\n", out);
    std::uint64_t largest = 0;
    for (std::uint64_t count : m.gaps)
        largest = std::max(largest, count);
    for (std::size_t bucket = 0; bucket < PROBE_BUCKETS; ++bucket) {
        const std::uint64_t count = m.gaps[bucket];
        const auto bar = static_cast<std::size_t>(probe_bar_length(count, largest, BAR_WIDTH));
        std::fprintf(out, "  %s %12llu%s%s\n", BUCKET_LABELS[bucket],
                     static_cast<unsigned long long>(count), bar > 0 ? " " : "",
                     std::string(bar, '#').c_str());
    }
    if (m.excluded > 0) {
        std::fprintf(
            out,
            "  gaps measured:  %llu (status reads - 1, less %llu that held a printed change)\n",
            static_cast<unsigned long long>(measured), static_cast<unsigned long long>(m.excluded));
    } else {
        std::fprintf(out, "  gaps measured:  %llu (status reads - 1)\n",
                     static_cast<unsigned long long>(measured));
    }
    if (measured > 0) {
        std::fprintf(out, "  longest gap:    %.1f µs, %.3f s into the run\n",
                     static_cast<double>(m.longest_ns) / 1e3,
                     static_cast<double>(m.longest_end_ns) / 1e9);
    } else {
        std::fputs("  longest gap:    none measured\n", out);
    }
}

// The permissions the run had, the remedy where one was refused, the delay
// unit and its floor.
void print_machine(const probe_measurement& m, const probe_port_facts& facts, std::FILE* out) {
    std::fputs("This machine:\n", out);
    print_grant("priority raise:", facts.priority, facts, out);
    if (facts.priority == probe_grant::granted && !facts.priority_setting.empty())
        std::fprintf(out, " (%s)", facts.priority_setting.c_str());
    std::fputc('\n', out);
    print_grant("memory lock:", facts.memory_lock, facts, out);
    std::fputc('\n', out);
    if (facts.priority == probe_grant::refused || facts.memory_lock == probe_grant::refused) {
        std::fputs(
            "  remedy:         run with sudo, or sudo setcap cap_sys_nice,cap_ipc_lock+ep on vmurx "
            "and vmurx-probe, or allow nice -20 and memlock in /etc/security/limits.conf\n",
            out);
    }
    std::fprintf(out, "  delay unit:     %.2f µs (the bare delay loop, measured)\n",
                 m.delay_unit_us);
    print_delay_floor(out);
}

// The verdict against the card's own Copy: its echo must be on D2 within
// CABLE_COPY_ECHO_BUDGET_US of Ack falling, so the longest pause and a write
// must fit; and the work between the answer and the next header (one delay
// unit, the raise and lower, a progress line, a write) and a pause with it
// must fit CABLE_COPY_TURN_BUDGET_US. The data write is counted as a status
// read, which costs the same on every backend.
void print_copy_verdict(const probe_measurement& m, std::uint64_t measured, std::FILE* out) {
    if (measured == 0)
        return;
    unsigned floor_us = 0;
    effective_delay_floor(floor_us);
    // A delay unit lasts its floor, or the bare loop where that is longer
    // (with no floor, always).
    const double unit_us = std::max<double>(floor_us, m.delay_unit_us);
    const double write_us = read_cost_ns(m, measured) / 1e3;
    const double pause_us = static_cast<double>(m.longest_ns) / 1e3;
    const double turn_us = static_cast<double>(m.turn_longest_ns) / 1e3 + unit_us + write_us;
    std::fputs("The card's own Copy:\n", out);
    std::fprintf(
        out, "  longest pause:  %.1f µs, and a write %.1f µs (the echo must come within %u µs)\n",
        pause_us, write_us, CABLE_COPY_ECHO_BUDGET_US);
    std::fprintf(
        out,
        "  between frames: %.1f µs at most, %.1f µs typically (a delay unit, the raise and "
        "lower, a progress line and a write; the card gives %u µs)\n",
        turn_us, static_cast<double>(m.turn_median_ns) / 1e3 + unit_us + write_us,
        CABLE_COPY_TURN_BUDGET_US);
    const bool echo_fits = pause_us + write_us <= CABLE_COPY_ECHO_BUDGET_US;
    const bool turn_fits = turn_us + pause_us <= CABLE_COPY_TURN_BUDGET_US;
    if (echo_fits && turn_fits) {
        std::fputs("This machine can follow the card's own Copy\n", out);
        return;
    }
    std::fputs("This machine cannot follow the card's own Copy, because ", out);
    if (!echo_fits) {
        std::fprintf(
            out,
            "the polling loop was paused for %.0f µs, longer than the card's %u µs for the echo",
            pause_us, CABLE_COPY_ECHO_BUDGET_US);
    } else {
        std::fprintf(out,
                     "the work between frames with a pause, %.0f µs, overruns the card's %u µs",
                     turn_us + pause_us, CABLE_COPY_TURN_BUDGET_US);
    }
    std::fputs(
        ".\nWhat helps (see \"Keeping Copy's pace\" in the README): real-time priority (run as "
        "root, or give vmurx cap_sys_nice), sysctl kernel.sched_rt_runtime_us=-1, a processor kept "
        "for vmurx (isolcpus= and irqaffinity= on the kernel's command line), or the card-side "
        "sender's SAFE speed in place of Copy.\n",
        out);
}

// The verdict: how briskly a card may clock on this machine.
void print_verdict(const probe_measurement& m, std::uint64_t measured, std::FILE* out) {
    if (measured == 0) {
        std::fputs("No verdict: no gap between two reads was measured.\n", out);
        return;
    }
    // Rounded up: a level held for exactly the longest gap may still be missed.
    const std::int64_t limit_us = (m.longest_ns + 999) / 1'000;
    std::fprintf(out,
                 "A card that holds each clock level for more than %lld µs can be followed on "
                 "this machine\n",
                 static_cast<long long>(limit_us));
    if (limit_us > WARN_ABOVE_US) {
        std::fprintf(out,
                     "Warning: the polling loop was paused for over %lld µs; a transfer may lose "
                     "bits (see \"A reliable transfer\" in the README)\n",
                     static_cast<long long>(WARN_ABOVE_US));
    }
}

}  // namespace

int probe_bar_length(std::uint64_t count, std::uint64_t largest, int width) {
    if (count == 0 || largest == 0)
        return 0;
    const double scaled =
        width * std::log1p(static_cast<double>(count)) / std::log1p(static_cast<double>(largest));
    return std::clamp(static_cast<int>(std::lround(scaled)), 1, width);
}

void probe_report(const probe_measurement& m, const probe_port_facts& facts, bool watch,
                  std::FILE* out) {
    const std::uint64_t measured = m.reads - 1 - m.excluded;
    print_reads(m, facts, measured, out);
    print_gaps(m, measured, out);
    std::fprintf(out, "Line changes%s: Select %llu, Ack %llu, Busy %llu\n",
                 watch ? " (printed above)" : "",
                 static_cast<unsigned long long>(m.changes[PROBE_SELECT]),
                 static_cast<unsigned long long>(m.changes[PROBE_ACK]),
                 static_cast<unsigned long long>(m.changes[PROBE_BUSY]));
    print_machine(m, facts, out);
    print_verdict(m, measured, out);
    print_copy_verdict(m, measured, out);
}
