// vmurx-probe: checks the port, the cable and this machine's timing before a
// transfer. It opens the port the way vmurx does, prints the card's three
// input lines, then polls the status register for a while in a loop as tight
// as a receive and reports how long the gaps between reads were. It never
// writes the data register, so the card never takes it for a transfer.
//
// The library is the same for every backend; what only a backend knows (the
// way it reached the port, whether the process could raise itself) comes
// from the program's main as a plain record.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "cli/cli.h"

/// What the command line asks for.
struct probe_options {
    std::string device = "LPT1:";
    std::int64_t duration_ms = 5'000;  // -t, in whole seconds on the command line
    bool watch = false;                // -w: print each line change as it happens
};

inline constexpr int PROBE_MAX_SECONDS = 600;

/// Exit statuses.
inline constexpr int PROBE_MEASURED = 0;
inline constexpr int PROBE_FAILED = 1;  // no port, or nothing measured
inline constexpr int PROBE_USAGE = 2;

/// The probe's options, for a program that reads them among its own
/// (vmurx-probe-gpio) before handing them on.
std::span<const cli_option> probe_option_rows();

/// Reads the command line into `options`; the messages and the usage name
/// the program `name`, whose usage line puts `before` ahead of the probe's
/// options ("[VMU options] --", or ""). Returns -1 to go on, or the status to
/// exit with after --help or --version (0) or a wrong command line (2, the
/// usage having gone to `err`).
int probe_parse_options(const char* name, const char* before, int argc, char* argv[],
                        probe_options& options, std::FILE* out, std::FILE* err);

/// Whether a permission the transfer would use was given.
enum class probe_grant { granted, refused, not_applicable };

/// Facts about the acquired port that only its backend knows.
struct probe_port_facts {
    std::string path;  // how the registers are reached: "ppdev /dev/parport0", ...
    probe_grant priority = probe_grant::not_applicable;
    std::string priority_setting;  // what the raise gives, e.g. "nice -20"
    probe_grant memory_lock = probe_grant::not_applicable;
    std::string detail;  // more about the port, whole lines, printed after the first
};

/// Fills in the permissions: `raised` when the raise gives a higher setting
/// (named `setting`), `already_high` when there was nothing to raise.
void probe_priority_facts(bool raised, bool already_high, const std::string& setting,
                          bool memory_locked, probe_port_facts& facts);

/// What only a backend knows, asked during the run.
struct probe_backend {
    /// Asked once the port is acquired.
    probe_port_facts (*describe)() = nullptr;
    /// Asked when the port could not be had, with the device as given, its
    /// base, and the errno of the refusal: whole lines on what was tried,
    /// why it failed and what to do. Null: nothing more than the refusal.
    std::string (*explain_refusal)(const std::string& device, std::uint16_t base,
                                   int error) = nullptr;
};

// The gaps between reads are sorted into these buckets: each holds the gaps
// from the previous bound up to, not including, its own; the last holds the
// rest.
inline constexpr std::size_t PROBE_BUCKETS = 9;
inline constexpr std::array<std::int64_t, PROBE_BUCKETS - 1> PROBE_BUCKET_BOUNDS_NS = {
    1'000, 2'000, 5'000, 10'000, 20'000, 50'000, 100'000, 1'000'000};

/// Index of the bucket that a gap of `gap_ns` belongs to.
inline std::size_t probe_bucket(std::int64_t gap_ns) {
    // The common case, a gap under a microsecond, costs one comparison.
    std::size_t bucket = 0;
    while (bucket < PROBE_BUCKET_BOUNDS_NS.size() && gap_ns >= PROBE_BUCKET_BOUNDS_NS[bucket])
        ++bucket;
    return bucket;
}

/// The input lines whose changes are counted, in the order they are shown.
enum probe_line { PROBE_SELECT, PROBE_ACK, PROBE_BUSY, PROBE_LINES };

/// Everything one timing run found.
struct probe_measurement {
    std::uint8_t first_status = 0;  // raw status register before the run
    std::uint64_t reads = 0;        // status reads in the run
    std::uint64_t excluded = 0;     // gaps left out because a change was printed in them
    std::array<std::uint64_t, PROBE_BUCKETS> gaps{};
    std::int64_t elapsed_ns = 0;   // from the first read of the run to the last
    std::int64_t excluded_ns = 0;  // time spent in the excluded gaps
    std::int64_t longest_ns = 0;
    std::int64_t longest_end_ns = 0;  // when the longest gap ended, from the first read
    std::array<std::uint64_t, PROBE_LINES> changes{};
    double clock_read_ns = 0;  // cost of one clock read, measured before the run
    double delay_unit_us = 0;  // length of the link's delay unit, measured
    // The tool's work between two frames, measured after the run: a raise
    // and lower of its priority and a flushed progress line (the data write
    // it also makes is counted as one status read: the probe never writes).
    std::int64_t turn_longest_ns = 0;
    std::int64_t turn_median_ns = 0;
};

/// Times of the work between frames measured after the run.
inline constexpr int PROBE_TURNS = 64;

/// Polls the status register at `status_address` for `duration_ms`, masked
/// as in a frame. Starts from `first_status`, the read before the run, so no
/// change is missed. With `watch`, each change is printed to `out` at once
/// and the gap after it, which holds the printing, is not measured.
void probe_measure(std::uint16_t status_address, std::uint8_t first_status,
                   std::int64_t duration_ms, bool watch, std::FILE* out,
                   probe_measurement& measurement);

/// Length of a bar on a log scale: `width` for `largest`, 0 for 0, at least 1
/// for any other count, so that a single long gap stays visible.
int probe_bar_length(std::uint64_t count, std::uint64_t largest, int width);

/// Prints the summary of a run.
void probe_report(const probe_measurement& measurement, const probe_port_facts& facts, bool watch,
                  std::FILE* out);

/// Opens the port, prints the lines, measures into `measurement` and
/// reports. Returns the exit status: 0, or 1 when the port cannot be opened
/// (vmurx's refusal and the backend's explanation on `err`), no gap was
/// measured or the report could not be written.
int probe_run(const probe_options& options, const probe_backend& backend, std::FILE* out,
              std::FILE* err, probe_measurement& measurement);

/// The whole program: command line (as for probe_parse_options), then
/// probe_run on standard output.
int probe_main(const char* name, const char* before, int argc, char* argv[],
               const probe_backend& backend);
