// vmurx-probe against the software VMU: the lines as the card sets them, the
// histogram adding up to the reads, the longest gap inside the run, watch mode
// printing the card's changes, no write of the data register, the same port
// names and refusals as vmurx, and the command line.
#include <gtest/gtest.h>
#include <stdio.h>

#include <cerrno>
#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

#include "platform/emu/emu_platform.h"
#include "platform/emu/vmu_options.h"
#include "probe/probe.h"
#include "probe_output.h"
#include "run_program.h"

namespace {

using args = std::vector<std::string>;

TEST(probe_histogram, gaps_fall_into_half_open_buckets) {
    const struct {
        std::int64_t gap_ns;
        std::size_t bucket;
    } cases[] = {
        {0, 0},      {999, 0},     {1'000, 1},   {1'999, 1},     {2'000, 2},
        {4'999, 2},  {5'000, 3},   {10'000, 4},  {20'000, 5},    {50'000, 6},
        {99'999, 6}, {100'000, 7}, {999'999, 7}, {1'000'000, 8}, {INT64_MAX, 8},
    };
    for (const auto& c : cases)
        EXPECT_EQ(probe_bucket(c.gap_ns), c.bucket) << c.gap_ns << " ns";
}

TEST(probe_histogram, bars_are_log_scaled_and_keep_rare_gaps_visible) {
    const struct {
        std::uint64_t count, largest;
        int length;
    } cases[] = {
        {0, 0, 0},
        {0, 1'000, 0},
        {1'000, 1'000, 40},
        {1, 1, 40},
        {1, 1'000'000'000, 1},
        {999, 999'999, 20},
        {10, 100, 21},
        {UINT64_MAX, UINT64_MAX, 40},
    };
    for (const auto& c : cases)
        EXPECT_EQ(probe_bar_length(c.count, c.largest, 40), c.length)
            << c.count << "/" << c.largest;
}

probe_port_facts describe_card() {
    probe_port_facts facts;
    facts.path = "the software card";
    return facts;
}

struct in_process_run {
    int status = -1;
    std::string out, err;
    std::string stdout_text;  // what went to the real standard output
};

// probe_run in this process, with its two streams captured.
in_process_run run_probe(const probe_options& options) {
    char* out_text = nullptr;
    char* err_text = nullptr;
    std::size_t out_size = 0;
    std::size_t err_size = 0;
    std::FILE* out = open_memstream(&out_text, &out_size);
    std::FILE* err = open_memstream(&err_text, &err_size);
    in_process_run run;
    testing::internal::CaptureStdout();
    run.status = probe_run(options, describe_card, out, err);
    run.stdout_text = testing::internal::GetCapturedStdout();
    std::fclose(out);
    std::fclose(err);
    run.out.assign(out_text, out_size);
    run.err.assign(err_text, err_size);
    std::free(out_text);
    std::free(err_text);
    return run;
}

// A card with the sample save, as vmurx-probe-emu sets it up without options.
vmu_sim& fresh_card() {
    vmu_sim& card = emu_vmu();
    card = vmu_sim{};
    vmu_options options;
    std::string error;
    EXPECT_TRUE(vmu_parse_options({}, card, options, error)) << error;
    return card;
}

unsigned long long sum(const std::vector<unsigned long long>& counts) {
    return std::accumulate(counts.begin(), counts.end(), 0ULL);
}

// What every completed run must show: the card only read at its status
// register, never written, masked for the whole run, and a report whose
// histogram, longest gap and verdict agree with each other and with the run.
void expect_consistent_run(const in_process_run& run, const probe_output& p, const vmu_sim& card) {
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.stdout_text, "");

    EXPECT_TRUE(card.acquired);
    EXPECT_TRUE(card.released);
    EXPECT_FALSE(card.masked);
    EXPECT_TRUE(card.data_writes.empty()) << card.data_writes.size() << " data register writes";
    EXPECT_TRUE(card.stray.empty());
    EXPECT_EQ(card.status_reads, p.reads + 1) << "the lines read plus the run's reads";
    EXPECT_EQ(card.unmasked_reads, 1U) << "only the lines read is made before masking";

    ASSERT_EQ(p.gaps.size(), PROBE_BUCKETS) << run.out;
    EXPECT_EQ(sum(p.gaps), p.reads - 1 - p.excluded);
    EXPECT_EQ(p.gaps_measured, p.reads - 1 - p.excluded);

    // Printed to 0.1 µs and 1 ms: allow for the rounding.
    ASSERT_GT(p.longest_us, 0) << run.out;
    EXPECT_LE(p.longest_us / 1e6, p.elapsed_s + 0.001);
    EXPECT_LE(p.longest_at_s, p.elapsed_s + 0.001);
    EXPECT_GE(p.longest_at_s + 0.001, p.longest_us / 1e6);
    std::size_t highest = 0;
    for (std::size_t bucket = 0; bucket < p.gaps.size(); ++bucket)
        highest = p.gaps[bucket] > 0 ? bucket : highest;
    const auto longest_ns = static_cast<std::int64_t>(p.longest_us * 1'000);
    EXPECT_GE(highest, probe_bucket(longest_ns - 50)) << run.out;
    EXPECT_LE(highest, probe_bucket(longest_ns + 50)) << run.out;
    EXPECT_GE(static_cast<double>(p.verdict_us), p.longest_us - 0.05);
    EXPECT_LT(static_cast<double>(p.verdict_us), p.longest_us + 1.05);
    EXPECT_EQ(p.warning, p.verdict_us > 100);
}

const struct line_case {
    const char* title;
    void (*setup)(vmu_sim&);
    const char *select, *ack, *busy;
    unsigned long long select_changes, ack_changes, busy_changes;
} LINE_CASES[] = {
    // The card clocks out the start frame's header 0x11 and then waits for
    // the PC's reply, which never comes: 8 bits, 16 Ack edges, Busy changing
    // at bits 3, 4 and 7.
    {"ready card starts its first frame", [](vmu_sim&) {}, "low (card ready)", "high", "low", 0, 16,
     3},
    {"no card ready", [](vmu_sim& card) { card.ready_after = VMU_NEVER; },
     "high (no card ready, or no cable)", "high", "low", 0, 0, 0},
    {"card ready after 1000 reads", [](vmu_sim& card) { card.ready_after = 1'000; },
     "high (no card ready, or no cable)", "high", "low", 1, 16, 3},
    {"card holding Ack low with Busy high",
     [](vmu_sim& card) {
         card.ready_after = VMU_NEVER;
         card.ack_high = false;
         card.busy = true;
     },
     "high (no card ready, or no cable)", "low", "high", 0, 0, 0},
};

TEST(probe_card, counts_the_lines_as_the_card_sets_them) {
    for (const line_case& c : LINE_CASES) {
        SCOPED_TRACE(c.title);
        vmu_sim& card = fresh_card();
        c.setup(card);
        probe_options options;
        options.duration_ms = 300;
        const in_process_run run = run_probe(options);
        const probe_output p = parse_probe_output(run.out);
        expect_consistent_run(run, p, card);
        EXPECT_EQ(p.port_line, "Port \"LPT1:\" @ $378 via the software card");
        EXPECT_EQ(p.select, c.select);
        EXPECT_EQ(p.ack, c.ack);
        EXPECT_EQ(p.busy, c.busy);
        EXPECT_EQ(p.select_changes, c.select_changes);
        EXPECT_EQ(p.ack_changes, c.ack_changes);
        EXPECT_EQ(p.busy_changes, c.busy_changes);
        EXPECT_TRUE(p.watched.empty()) << run.out;
        EXPECT_EQ(p.excluded, 0U);
    }
}

TEST(probe_card, watch_prints_each_change_and_leaves_its_gap_out) {
    vmu_sim& card = fresh_card();
    card.ready_after = 1'000;
    probe_options options;
    options.duration_ms = 300;
    options.watch = true;
    const in_process_run run = run_probe(options);
    const probe_output p = parse_probe_output(run.out);
    expect_consistent_run(run, p, card);

    // Select falls, then each Ack edge of the header byte; Busy changes
    // together with Ack.
    ASSERT_EQ(p.watched.size(), 17U) << run.out;
    double at_s = -1;
    char what[64] = {};
    ASSERT_EQ(std::sscanf(p.watched[0].c_str(), " %lf s %63[^\n]", &at_s, what), 2);
    EXPECT_STREQ(what, "Select low (card ready)");
    EXPECT_GE(at_s, 0.0);
    EXPECT_LE(at_s, p.elapsed_s);
    EXPECT_NE(p.watched[1].find("Ack low"), std::string::npos);
    EXPECT_NE(p.watched[8].find("Ack high, Busy high"), std::string::npos);
    EXPECT_EQ(p.excluded, 17U);
    EXPECT_EQ(p.select_changes, 1U);
    EXPECT_EQ(p.ack_changes, 16U);
    EXPECT_EQ(p.busy_changes, 3U);
}

TEST(probe_card, takes_the_same_port_names_as_vmurx) {
    const struct {
        const char* device;
        std::uint16_t base;
        const char* shown;
    } cases[] = {
        {"LPT1:", 0x378, "$378"}, {"lpt2", 0x278, "$278"},     {"Lpt3x", 0x3BC, "$3bc"},
        {"888", 0x378, "$378"},   {"0xEC00", 0xEC00, "$ec00"}, {"0x10378", 0x378, "$378"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device);
        vmu_sim& card = fresh_card();
        probe_options options;
        options.device = c.device;
        options.duration_ms = 20;
        const in_process_run run = run_probe(options);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(card.base, c.base);
        EXPECT_EQ(parse_probe_output(run.out).port_line,
                  std::string("Port \"") + c.device + "\" @ " + c.shown + " via the software card");
    }
}

TEST(probe_card, refusal_of_the_port_ends_before_any_read) {
    vmu_sim& card = fresh_card();
    card.refuse_errno = EACCES;
    const in_process_run run = run_probe(probe_options{});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Can't open serial port: Permission denied\n");
    EXPECT_EQ(card.status_reads, 0U);
}

TEST(probe_card, a_report_that_cannot_be_written_is_a_failure) {
    fresh_card();
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    char* err_text = nullptr;
    std::size_t err_size = 0;
    std::FILE* err = open_memstream(&err_text, &err_size);
    probe_options options;
    options.duration_ms = 20;
    EXPECT_EQ(probe_run(options, describe_card, full, err), 1);
    std::fclose(err);
    std::fclose(full);
    EXPECT_EQ(std::string(err_text, err_size),
              "vmurx-probe: write error: No space left on device\n");
    std::free(err_text);
}

// An unknown name: the unknown-port text of vmurx on standard output, the
// refusal line on standard error, status 1.
TEST(probe_program, unknown_port_is_refused_as_vmurx_refuses_it) {
    for (const char* device : {"com1", "lpt0", "LPT4", "", "x378"}) {
        SCOPED_TRACE(device);
        const run_result probe = run_program({VMURX_PROBE_EMU_PATH, "--", "-d", device});
        const run_result tool = run_program({VMURX_EMU_PATH, "--", "-d", device});
        EXPECT_EQ(probe.status, 1);
        EXPECT_EQ(probe.out, std::string("Unknown parallel port: ") + device +
                                 "\nTry a hex base address if necessary (ie. 0x378)\n");
        EXPECT_EQ(probe.out, tool.out);
        EXPECT_EQ(probe.err, "Can't open serial port: No such device\n");
        EXPECT_TRUE(tool.err.starts_with("Can't open serial port: ")) << tool.err;
    }
}

TEST(probe_program, command_line) {
    const std::string program = VMURX_PROBE_PATH;
    const std::string usage_head = "Usage: " + program + " [-d device] [-t seconds] [-w] [-h]\n";
    const struct {
        args arguments;
        int status;
        std::string out;  // a prefix; "usage" stands for the whole usage text
        std::string err;  // a prefix of the message before the usage text
    } cases[] = {
        {{"-h"}, 0, "usage", ""},
        {{"--help", "-x"}, 0, "usage", ""},
        {{"--version"}, 0, "vmurx-probe 1.1\n", ""},
        {{"-x"}, 2, "", program + ": invalid option -- 'x'\n"},
        {{"--fast"}, 2, "", program + ": unrecognized option '--fast'\n"},
        {{"-t"}, 2, "", program + ": option requires an argument -- 't'\n"},
        {{"--watch=1"}, 2, "", program + ": option '--watch' doesn't allow an argument\n"},
        {{"-t", "0"}, 2, "", program + ": invalid time '0': whole seconds from 1 to 600\n"},
        {{"-t", "601"}, 2, "", program + ": invalid time '601'"},
        {{"-t", "1.5"}, 2, "", program + ": invalid time '1.5'"},
        {{"-t", "-1"}, 2, "", program + ": invalid time '-1'"},
        {{"-t", ""}, 2, "", program + ": invalid time ''"},
        {{"-t", "99999999999999999999"}, 2, "", program + ": invalid time '9"},
        {{"--time=5s"}, 2, "", program + ": invalid time '5s'"},
        {{"now"}, 2, "", program + ": unexpected argument 'now'\n"},
        // Accepted: the run then stops at the unknown port.
        {{"-t", "600", "-w", "-d", "com1"}, 1, "Unknown parallel port: com1\n", "Can't open"},
        {{"--time=1", "--watch", "--device=com1"}, 1, "Unknown parallel port: com1\n", "Can't"},
    };
    std::string usage;
    for (const auto& c : cases) {
        args argv{program};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        const run_result r = run_program(argv);
        EXPECT_EQ(r.status, c.status);
        if (c.out == "usage") {
            EXPECT_TRUE(r.out.starts_with(usage_head)) << r.out;
            EXPECT_EQ(r.err, "");
            usage = r.out;
            continue;
        }
        EXPECT_TRUE(r.out.starts_with(c.out)) << r.out;
        EXPECT_TRUE(r.err.starts_with(c.err)) << r.err;
        if (c.status == 2) {
            EXPECT_EQ(r.out, "");
            EXPECT_TRUE(r.err.ends_with(usage)) << r.err;
        }
    }
}

// The emu program splits its command line at "--" as vmurx-emu does.
TEST(probe_program, emu_command_line) {
    const std::string program = VMURX_PROBE_EMU_PATH;
    const struct {
        args arguments;
        int status;
        std::string out, err;  // prefixes
    } cases[] = {
        {{"--help"}, 0, "Usage: " + program + " [VMU options] [-- vmurx-probe options]\n", ""},
        {{"--", "-h"}, 0, "Usage: " + program + " [-d device] [-t seconds] [-w] [-h]\n", ""},
        {{"--ready-after", "x"}, 2, "", program + ": bad value for --ready-after: 'x'\n"},
        {{"-t", "1"}, 2, "", program + ": unknown VMU option '-t' (options for vmurx go after --)"},
        {{"--", "-t", "0"}, 2, "", program + ": invalid time '0'"},
    };
    for (const auto& c : cases) {
        args argv{program};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        const run_result r = run_program(argv);
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(r.out.starts_with(c.out)) << r.out;
        EXPECT_TRUE(r.err.starts_with(c.err)) << r.err;
    }
}

}  // namespace
