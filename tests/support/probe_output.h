// Reading vmurx-probe's report back into numbers, for the tests that run it
// against the software card and over the ppdev stand-in.
#pragma once

#include <string>
#include <vector>

struct probe_output {
    std::string port_line;  // "Port ... via ..."
    std::string select, ack, busy;
    unsigned long long reads = 0;
    double elapsed_s = 0;
    std::vector<unsigned long long> gaps;  // the histogram's counts, in bucket order
    unsigned long long gaps_measured = 0;
    unsigned long long excluded = 0;  // gaps that held a printed change
    double longest_us = -1;
    double longest_at_s = -1;
    unsigned long long select_changes = 0, ack_changes = 0, busy_changes = 0;
    std::vector<std::string> watched;  // the changes printed during the run
    long long verdict_us = -1;
    bool warning = false;
};

/// The parts of `text` it recognises; fields not found keep their defaults.
probe_output parse_probe_output(const std::string& text);
