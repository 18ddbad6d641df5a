// vmurx-probe against the software VMU: the lines as the card sets them, the
// histogram adding up to the reads, the longest gap inside the run, watch mode
// printing the card's changes, no write of the data register, and the
// command line. Refusals and the ppdev path are in platform_linux.
#include <gtest/gtest.h>
#include <stdio.h>

#include <cerrno>
#include <cstdlib>
#include <numeric>

#include "emu/emu_options.h"
#include "lpt/byte_exchange.h"
#include "platform/emu/emu_platform.h"
#include "probe/probe.h"
#include "run_program.h"

namespace {

TEST(probe_histogram, buckets_are_half_open_and_bars_log_scaled) {
    const std::pair<std::int64_t, std::size_t> buckets[] = {
        {999, 0},     {1'000, 1},   {4'999, 2},     {5'000, 3},     {99'999, 6},
        {100'000, 7}, {999'999, 7}, {1'000'000, 8}, {INT64_MAX, 8},
    };
    for (const auto& [gap_ns, bucket] : buckets)
        EXPECT_EQ(probe_bucket(gap_ns), bucket) << gap_ns << " ns";
    // count, largest, length of 40 at most: one gap among a billion stays visible.
    const std::array<std::uint64_t, 3> bars[] = {
        {0, 1'000, 0}, {1'000, 1'000, 40}, {1, 1'000'000'000, 1}, {999, 999'999, 20}, {0, 0, 0},
    };
    for (const auto& [count, largest, length] : bars)
        EXPECT_EQ(probe_bar_length(count, largest, 40), static_cast<int>(length)) << count;
}

probe_port_facts describe_card() {
    return {"the software card", probe_grant::not_applicable, "", probe_grant::not_applicable, ""};
}

struct card_run {
    int status = -1;
    std::string out, err;
    probe_measurement m;
};

// probe_run in this process on a fresh card with the sample save, changed by
// `setup`, its two streams captured.
template <typename Setup>
card_run run_on_card(const probe_options& options, Setup setup, std::FILE* out = nullptr) {
    vmu_sim& card = emu_vmu();
    card = vmu_sim{};
    emu_options parsed;
    std::string error;
    EXPECT_TRUE(emu_parse_options({}, card, parsed, error)) << error;
    setup(card);
    char *out_text = nullptr, *err_text = nullptr;
    std::size_t out_size = 0, err_size = 0;
    std::FILE* own_out = open_memstream(&out_text, &out_size);
    std::FILE* err = open_memstream(&err_text, &err_size);
    card_run run;
    run.status = probe_run(options, {describe_card}, out ? out : own_out, err, run.m);
    std::fclose(own_out);
    std::fclose(err);
    run.out.assign(out_text, out_size);
    run.err.assign(err_text, err_size);
    std::free(out_text);
    std::free(err_text);
    return run;
}

// What every completed run must show: the card read only at its status
// register, never written, masked for the whole run; a histogram that adds up
// to the reads; a longest gap inside the run, in the highest bucket used, and
// the verdict it gives.
void expect_consistent(const card_run& run, std::uint64_t excluded) {
    const vmu_sim& card = emu_vmu();
    const probe_measurement& m = run.m;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(card.acquired && card.released && !card.masked);
    EXPECT_TRUE(card.data_writes.empty()) << card.data_writes.size() << " data register writes";
    EXPECT_TRUE(card.stray.empty());
    EXPECT_EQ(card.status_reads, m.reads + 1) << "the lines read plus the run's reads";
    EXPECT_EQ(card.unmasked_reads, 1U) << "only the lines read comes before masking";
    EXPECT_EQ(m.excluded, excluded);
    EXPECT_EQ(std::accumulate(m.gaps.begin(), m.gaps.end(), 0ULL), m.reads - 1 - excluded);

    ASSERT_GT(m.longest_ns, 0);
    EXPECT_LE(m.longest_end_ns, m.elapsed_ns);
    EXPECT_GE(m.longest_end_ns, m.longest_ns);
    std::size_t highest = 0;
    for (std::size_t bucket = 0; bucket < PROBE_BUCKETS; ++bucket)
        highest = m.gaps[bucket] > 0 ? bucket : highest;
    EXPECT_EQ(highest, probe_bucket(m.longest_ns));
    const std::int64_t limit_us = (m.longest_ns + 999) / 1'000;
    EXPECT_NE(run.out.find("for more than " + std::to_string(limit_us) + " µs can be followed"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("\nWarning: ") != std::string::npos, limit_us > 100);
}

TEST(probe_card, counts_the_lines_as_the_card_sets_them) {
    const std::string not_ready = "  Select: high (no card ready, or no cable)\n";
    const struct {
        const char* title;
        void (*setup)(vmu_sim&);
        std::string lines;
        std::array<std::uint64_t, PROBE_LINES> changes;  // Select, Ack, Busy
    } cases[] = {
        // The card clocks out the start frame's header 0x11 and waits for a
        // reply that never comes: 16 Ack edges, Busy changing at bits 3, 4, 7.
        {"ready card",
         [](vmu_sim&) {},
         "  Select: low (card ready)\n  Ack: high\n  Busy: low\n",
         {0, 16, 3}},
        {"no card ready",
         [](vmu_sim& card) { card.ready_after = VMU_NEVER; },
         not_ready + "  Ack: high\n  Busy: low\n",
         {0, 0, 0}},
        {"Ack held low, Busy high",
         [](vmu_sim& card) {
             card.ready_after = VMU_NEVER;
             card.ack_high = false;
             card.busy = true;
         },
         not_ready + "  Ack: low\n  Busy: high\n",
         {0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        const card_run run = run_on_card({"lpt2", 300, false}, c.setup);
        expect_consistent(run, 0);
        EXPECT_TRUE(
            run.out.starts_with("Port \"lpt2\" @ $278 via the software card\n"
                                "Lines (pin levels):\n" +
                                c.lines + "Polling the status register for 300 ms...\n"))
            << run.out;
        EXPECT_EQ(run.m.changes, c.changes);
    }
}

TEST(probe_card, watch_prints_each_change_and_leaves_its_gap_out) {
    const card_run run =
        run_on_card({"LPT1:", 300, true}, [](vmu_sim& card) { card.ready_after = 1'000; });
    // Select falls, then every Ack edge of the header byte, Busy with some.
    expect_consistent(run, 17);
    const std::string head = "Polling the status register for 300 ms, printing each line change:\n";
    const std::size_t start = run.out.find(head) + head.size();
    const std::string printed = run.out.substr(start, run.out.find("  status reads:") - start);
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 17) << printed;
    EXPECT_NE(printed.find(" s  Select low (card ready)\n"), std::string::npos) << printed;
    EXPECT_NE(printed.find(" s  Ack high, Busy high\n"), std::string::npos) << printed;
    EXPECT_NE(run.out.find("status reads - 1, less 17 that held a printed change"),
              std::string::npos);
}

TEST(probe_card, a_report_that_cannot_be_written_is_a_failure) {
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    const card_run lost = run_on_card(
        {"LPT1:", 20, false}, [](vmu_sim&) {}, full);
    std::fclose(full);
    EXPECT_EQ(lost.status, 1);
    EXPECT_EQ(lost.err, "vmurx-probe: write error: No space left on device\n");
}

TEST(probe_program, command_line) {
    const std::string probe = VMURX_PROBE_PATH;
    const std::string emu = VMURX_PROBE_EMU_PATH;
    const std::string usage = "Usage: vmurx-probe [-d device] [-t seconds] [-w] [-h]\n";
    const std::string emu_usage =
        "Usage: vmurx-probe-emu [VMU options] -- [-d device] [-t seconds] [-w] [-h]\n";
    const struct {
        std::vector<std::string> argv;
        int status;
        std::string out, err;  // prefixes
    } cases[] = {
        {{probe, "--help", "-x"}, 0, usage, ""},
        {{probe, "-x"}, 2, "", "vmurx-probe: invalid option -- 'x'\n" + usage},
        {{probe, "-t", "0"},
         2,
         "",
         "vmurx-probe: invalid time '0': whole seconds from 1 to 600\n" + usage},
        {{probe, "-t", "60.5"}, 2, "", "vmurx-probe: invalid time '60.5'"},
        {{probe, "-t", " 6"}, 2, "", "vmurx-probe: invalid time ' 6'"},
        {{probe, "--time=601"}, 2, "", "vmurx-probe: invalid time '601'"},
        {{probe, "--ti"}, 2, "", "vmurx-probe: option '--time' requires an argument\n" + usage},
        {{probe, "now"}, 2, "", "vmurx-probe: unexpected argument 'now'\n" + usage},
        {{probe, "--version"}, 0, "vmurx-probe (vmurx) 1.1\n", ""},
        // Accepted; the run then stops at the unknown port, as vmurx does.
        {{probe, "-t", "600", "-w", "-d", "com1"},
         1,
         "Unknown parallel port: com1\nTry a hex base address if necessary (ie. 0x378)\n",
         "Can't open serial port: No such device\n"},
        {{emu, "--", "-h"}, 0, emu_usage, ""},
        {{emu, "--", "-x"}, 2, "", "vmurx-probe-emu: invalid option -- 'x'\n" + emu_usage},
        // The card's own options: -h as --help, --version, and only what
        // means something to the probe.
        {{emu, "-h"}, 0, "Usage: vmurx-probe-emu [VMU options] [-- vmurx-probe options]\n", ""},
        {{emu, "--version"}, 0, "vmurx-probe-emu (vmurx) 1.1\n", ""},
        {{emu, "--no-raise"},
         2,
         "",
         "vmurx-probe-emu: unrecognized option '--no-raise' (the vmurx-probe options follow "
         "'--')\n"},
        {{emu, "--sample-us", "5"}, 2, "", "vmurx-probe-emu: unrecognized option '--sample-us'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.argv));
        const run_result r = run_program(c.argv);
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(r.out.starts_with(c.out)) << r.out;
        EXPECT_TRUE(r.err.starts_with(c.err)) << r.err;
        if (c.status == 2) {
            EXPECT_EQ(r.out, "");
        }
        if (c.status == 2 && c.argv[0] == probe) {
            EXPECT_TRUE(r.err.ends_with("2 for a wrong command line.\n"));
        }
    }
    const std::string help = run_program({emu, "--help"}).out;
    EXPECT_EQ(help.find("--no-raise"), std::string::npos) << help;
    EXPECT_EQ(help.find("--sample-us"), std::string::npos) << help;
    EXPECT_NE(help.find("--ready-after"), std::string::npos) << help;
}

// vmurx-probe-emu takes the probe's options before "--" too, as
// vmurx-probe-gpio does, among the card's own and handed on ahead of what
// follows "--"; wrong values are still the probe's to refuse.
TEST(probe_program, the_emu_takes_the_probe_options_before_the_separator) {
    const std::string emu = VMURX_PROBE_EMU_PATH;
    const struct {
        std::vector<std::string> argv;
        int status;
        std::string out, err;  // what each holds
    } cases[] = {
        {{emu, "-t", "1"}, 0, "Polling the status register for 1 s...\n", ""},
        {{emu, "--type", "game", "--time=1"}, 0, "Polling the status register for 1 s...\n", ""},
        // What follows "--" comes later on the probe's command line.
        {{emu, "-t", "3", "--", "-t", "1"}, 0, "Polling the status register for 1 s...\n", ""},
        {{emu, "-w", "-d", "com1"}, 1, "Unknown parallel port: com1\n", "Can't open serial port"},
        {{emu, "-t", "0"},
         2,
         "",
         "vmurx-probe-emu: invalid time '0': whole seconds from 1 to 600\n"},
        {{emu, "--time"}, 2, "", "vmurx-probe-emu: option '--time' requires an argument\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.argv));
        const run_result r = run_program(c.argv);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        if (c.status == 2) {
            EXPECT_EQ(r.out, "");
            EXPECT_NE(r.err.find("\nUsage: vmurx-probe-emu "), std::string::npos) << r.err;
        }
    }
    const std::string help = run_program({emu, "--help"}).out;
    EXPECT_NE(help.find("-d/--device, -t/--time, -w/--watch may also come before '--'"),
              std::string::npos)
        << help;
}

}  // namespace

namespace {

// The floor line tells what vmurx would use here: the default, the variable's
// value, or that vmurx would refuse the variable. The delay unit beside it is
// the bare loop whatever the floor, or a floor of 10 ms would show as the loop.
TEST(probe_program, reports_the_delay_floor_vmurx_would_use) {
    const struct {
        const char* variable;  // nullptr: unset
        std::string line;
    } cases[] = {
        // vmurx-emu's own default, which a transfer against the card's own
        // Copy uses.
        {nullptr, "  delay floor:    50 µs (the default)\n"},
        {"10000", "  delay floor:    10000 µs (VMURX_DELAY_US)\n"},
        {"0", "  delay floor:    none (VMURX_DELAY_US): the bare loop\n"},
        {"50us", "  delay floor:    VMURX_DELAY_US is not valid; vmurx refuses to run with it\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.variable != nullptr ? c.variable : "unset");
        run_options options;
        if (c.variable != nullptr)
            options.env = {std::string("VMURX_DELAY_US=") + c.variable};
        else
            options.unset = {"VMURX_DELAY_US"};
        const run_result r = run_program({VMURX_PROBE_EMU_PATH, "--", "-t", "1"}, options);
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find(c.line), std::string::npos) << r.out;
        const auto unit = r.out.find("  delay unit:     ");
        ASSERT_NE(unit, std::string::npos);
        EXPECT_LT(std::stod(r.out.substr(unit + 18)), 5'000.0) << "the floor leaked into the unit";
    }
}

}  // namespace

namespace {

std::string report_of(const probe_measurement& m) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    probe_report(m, describe_card(), false, out);
    std::fclose(out);
    std::string report(text, size);
    std::free(text);
    return report;
}

}  // namespace

TEST(probe_verdict, judges_the_machine_against_the_pace_of_the_cards_own_copy) {
    const struct {
        const char* title;
        std::int64_t longest_ns;  // the longest pause of the polling loop
        std::int64_t turn_ns;     // the longest raise, lower and progress line
        const char* verdict;
        unsigned floor_us = 50;
        double delay_unit_us = 0.5;  // the bare loop
    } cases[] = {
        {"a quiet machine", 10'000, 20'000, "This machine can follow the card's own Copy\n"},
        {"a pause just inside the echo's 20 µs", 18'000, 20'000,
         "This machine can follow the card's own Copy\n"},
        {"a pause past it", 21'000, 20'000,
         "This machine cannot follow the card's own Copy, because the polling loop was paused "
         "for 21 µs, longer than the card's 20 µs for the echo.\n"},
        {"slow work between frames: 50 µs floor, 510 µs, a 10 µs pause", 10'000, 510'000,
         "This machine cannot follow the card's own Copy, because the work between frames with a "
         "pause, 571 µs, overruns the card's 560 µs.\n"},
        {"no floor: the unit is the bare loop's 100 µs, not nothing", 10'000, 450'000,
         "This machine cannot follow the card's own Copy, because the work between frames with a "
         "pause, 561 µs, overruns the card's 560 µs.\n",
         0, 100.0},
        {"a floor shorter than the loop: the loop counts", 10'000, 450'000,
         "This machine cannot follow the card's own Copy, because the work between frames with a "
         "pause, 561 µs, overruns the card's 560 µs.\n",
         50, 100.0},
    };
    const unsigned floor_us = delay_floor_us();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        set_delay_floor_us(c.floor_us);
        probe_measurement m;
        m.delay_unit_us = c.delay_unit_us;
        // A million reads in a second, each 1 µs with the clock's read free:
        // the write counted as a read costs 1 µs.
        m.reads = 1'000'001;
        m.elapsed_ns = 1'000'000'000;
        m.longest_ns = c.longest_ns;
        m.turn_longest_ns = c.turn_ns;
        m.turn_median_ns = c.turn_ns / 2;
        const std::string report = report_of(m);
        EXPECT_NE(report.find(c.verdict), std::string::npos) << report;
        EXPECT_EQ(report.find("What helps") != std::string::npos,
                  std::string(c.verdict).find("cannot") != std::string::npos);
    }
    set_delay_floor_us(floor_us);
}
