// Receiving and sending single bytes, and the ready handshake.
//
// Time on the receiving side is counted in status reads: a read takes one
// unit of the poll budget, and the loops between two reads do nothing but
// compare and store, so that the PC follows the VMU's clock as fast as the
// port can be read.
#include "lpt/byte_exchange.h"

#include <cstdio>
#include <limits>

#include "lpt/comm_log.h"
#include "lpt/lpt.h"
#include "platform/platform.h"

std::uint8_t echo_byte = ECHO_INITIAL;

namespace {

// The number of status reads that `timeout` allows. A timeout too large for
// the signed 32-bit count is cut to the largest count instead of overflowing.
std::int32_t poll_budget_for(int timeout) {
    if (timeout < 1)
        timeout = DEFAULT_TIMEOUT;
    constexpr int largest = std::numeric_limits<std::int32_t>::max() / POLLS_PER_UNIT;
    if (timeout > largest)
        return std::numeric_limits<std::int32_t>::max();
    return timeout * POLLS_PER_UNIT;
}

void write_data(const lpt_port& port) {
    port_write(port.base, static_cast<std::uint8_t>(port.data_shadow));
}

// Waits for Select low. The read that uses the last unit of the budget still
// counts. No byte crosses the cable, so nothing is logged.
int ready_handshake(lpt_port& port, std::int32_t poll_budget) {
    std::fputs("firstread-", link_output());
    port.first_read = 0;
    const std::uint16_t status_register = port.base + 1;
    while (poll_budget > 0) {
        --poll_budget;
        if (((port_read(status_register) ^ STATUS_XOR) & STATUS_SELECT) == 0) {
            std::fputs("hsk,", link_output());
            return READY_BYTE;
        }
    }
    std::fputs("err,", link_output());
    return READ_TIMEOUT;
}

// Receives one byte clocked by the VMU. A wait ends at the awaited level or at
// the read that takes the last unit of the budget, and a byte whose budget ran
// out fails even if that read showed the awaited level. The bit in progress is
// still finished without waiting (one read for Ack high), and no further bit
// is begun.
int clocked_receive(lpt_port& port, std::int32_t poll_budget) {
    const std::uint16_t status_register = port.base + 1;
    unsigned value = 0;
    int bits_done = 0;
    for (int bit = 7; bit >= 0; --bit) {
        std::uint8_t status;
        do {
            status = port_read(status_register) ^ STATUS_XOR;
            --poll_budget;
        } while ((status & STATUS_ACK) != 0 && poll_budget > 0);

        if ((echo_byte >> bit) & 1) {
            port.data_shadow |= DATA_ECHO;
        } else {
            port.data_shadow &= static_cast<std::uint16_t>(~DATA_ECHO);
        }
        write_data(port);

        do {
            status = port_read(status_register) ^ STATUS_XOR;
            --poll_budget;
        } while ((status & STATUS_ACK) == 0 && poll_budget > 0);

        value = (value << 1) | ((status & STATUS_BUSY) != 0 ? 1U : 0U);
        if (poll_budget <= 0)
            break;
        ++bits_done;
    }
    echo_byte = static_cast<std::uint8_t>(value);
    if (poll_budget <= 0) {
        std::fprintf(link_output(), "only got %d bits\n", bits_done);
        return READ_TIMEOUT;
    }
    comm_log_append(port, static_cast<std::int32_t>(value) + LOG_RECEIVED);
    return static_cast<int>(value);
}

}  // namespace

int lpt_read_byte(lpt_port& port, int timeout) {
    std::int32_t poll_budget = poll_budget_for(timeout);
    if (port.first_read != 0)
        return ready_handshake(port, poll_budget);
    return clocked_receive(port, poll_budget);
}

int lpt_write_byte(lpt_port& port, int byte) {
    const unsigned value = static_cast<unsigned>(byte) & 0xFF;
    comm_log_append(port, static_cast<std::int32_t>(value));
    for (int i = 0; i < SEND_LEAD_DELAYS; ++i)
        lpt_delay();
    for (int bit = 7; bit >= 0; --bit) {
        port.data_shadow &= static_cast<std::uint16_t>(~(DATA_SEND_CLOCK | DATA_SEND_BIT));
        if ((value >> bit) & 1)
            port.data_shadow |= DATA_SEND_BIT;
        write_data(port);
        lpt_delay();
        port.data_shadow |= DATA_SEND_CLOCK;
        write_data(port);
        lpt_delay();
    }
    return 0;
}
