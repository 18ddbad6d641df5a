// Line by line: each line of the report is recognised by its first words.
#include "probe_output.h"

#include <cstdio>
#include <cstring>
#include <sstream>

namespace {

constexpr const char* VERDICT = "A card that holds each clock level for more than ";

bool starts(const std::string& line, const char* prefix) {
    return line.rfind(prefix, 0) == 0;
}

}  // namespace

probe_output parse_probe_output(const std::string& text) {
    probe_output p;
    std::istringstream lines(text);
    bool in_histogram = false;
    bool polling = false;
    for (std::string line; std::getline(lines, line);) {
        if (starts(line, "Port ")) {
            p.port_line = line;
        } else if (starts(line, "  Select: ")) {
            p.select = line.substr(10);
        } else if (starts(line, "  Ack: ")) {
            p.ack = line.substr(7);
        } else if (starts(line, "  Busy: ")) {
            p.busy = line.substr(8);
        } else if (starts(line, "Polling ")) {
            polling = true;
        } else if (starts(line, "  status reads: ")) {
            polling = false;
            std::sscanf(line.c_str(), "  status reads: %llu in %lf s", &p.reads, &p.elapsed_s);
        } else if (starts(line, "Gaps between")) {
            in_histogram = true;
        } else if (starts(line, "  gaps measured: ")) {
            in_histogram = false;
            std::sscanf(line.c_str(), "  gaps measured: %llu (status reads - 1, less %llu",
                        &p.gaps_measured, &p.excluded);
        } else if (in_histogram) {
            // The count is the first number after the label's column.
            unsigned long long count = 0;
            if (line.size() > 15 && std::sscanf(line.c_str() + 15, "%llu", &count) == 1)
                p.gaps.push_back(count);
        } else if (starts(line, "  longest gap: ")) {
            std::sscanf(line.c_str(), "  longest gap: %lf µs, %lf s", &p.longest_us,
                        &p.longest_at_s);
        } else if (starts(line, "Line changes")) {
            std::sscanf(line.substr(line.find(':')).c_str(), ": Select %llu, Ack %llu, Busy %llu",
                        &p.select_changes, &p.ack_changes, &p.busy_changes);
        } else if (starts(line, VERDICT)) {
            std::sscanf(line.c_str() + std::strlen(VERDICT), "%lld", &p.verdict_us);
        } else if (starts(line, "Warning: ")) {
            p.warning = true;
        } else if (polling) {
            p.watched.push_back(line);
        }
    }
    return p;
}
