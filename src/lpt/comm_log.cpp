// Appending to and printing the communications log.
#include "lpt/comm_log.h"

#include <cstdio>

#include "lpt/lpt.h"

void comm_log_append(lpt_port& port, std::int32_t entry) {
    if (port.log_count >= COMM_LOG_SIZE) {
        ++port.log_dropped;
        return;
    }
    port.comm_log[port.log_count++] = entry;
}

void comm_log_print(const lpt_port& port) {
    std::fputs("\nCommunications log: ", stdout);
    for (std::int32_t i = 0; i < port.log_count; ++i) {
        std::int32_t entry = port.comm_log[i];
        // Bit 8 marks a received byte; markers (512 and up) keep bit 9 and so
        // print with three digits.
        std::printf("%c:%02x ", (entry & LOG_RECEIVED) != 0 ? 'R' : 'S',
                    static_cast<unsigned>(entry & 0x2FF));
    }
    if (port.log_dropped > 0) {
        std::printf("(log full: %d more entries not recorded) ", port.log_dropped);
    }
    std::fputs("\n", stdout);
}
