// Appending to and printing the communications log.
#include "lpt/comm_log.h"

#include <cstdio>

#include "lpt/lpt.h"

namespace {

std::FILE* output_in_use = nullptr;  // standard output

}  // namespace

void set_link_output(std::FILE* stream) {
    output_in_use = stream;
}

std::FILE* link_output() {
    return output_in_use != nullptr ? output_in_use : stdout;
}

void comm_log_append(lpt_port& port, std::int32_t entry) {
    if (port.log_count >= COMM_LOG_SIZE) {
        ++port.log_dropped;
        return;
    }
    port.comm_log[port.log_count++] = entry;
}

void comm_log_print(const lpt_port& port) {
    std::FILE* out = link_output();
    std::fputs("\nCommunications log: ", out);
    for (std::int32_t i = 0; i < port.log_count; ++i) {
        std::int32_t entry = port.comm_log[i];
        // Bit 8 marks a received byte; markers (512 and up) keep bit 9 and so
        // print with three digits.
        std::fprintf(out, "%c:%02x ", (entry & LOG_RECEIVED) != 0 ? 'R' : 'S',
                     static_cast<unsigned>(entry & 0x2FF));
    }
    if (port.log_dropped > 0) {
        std::fprintf(out, "(log full: %d more entries not recorded) ", port.log_dropped);
    }
    std::fputs("\n", out);
}
