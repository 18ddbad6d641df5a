// The link of vmurx-send: what the core's link offers (the port, the delay
// unit, the clocked receive), and what the sending side adds over the seam.
#include "send/send_link.h"

#include <cerrno>
#include <csignal>
#include <iterator>

#include "clock/monotonic_clock.h"
#include "lpt/byte_exchange.h"
#include "platform/platform.h"

volatile std::sig_atomic_t send_interrupted = 0;

namespace {

// The signals that would end the process with D3 high: each only sets the
// flag while the port is held.
constexpr int STOPPING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Their handling, and SIGPIPE's, before send_open; given back by send_close.
struct sigaction earlier_handling[std::size(STOPPING_SIGNALS) + 1];

void on_signal(int) {
    send_interrupted = 1;
}

void catch_signals() {
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(STOPPING_SIGNALS); ++i)
        sigaction(STOPPING_SIGNALS[i], &action, &earlier_handling[i]);
    // A closed standard error (a pipe to `head`) must not end the process
    // between two bytes: the write fails, and the transfer goes on.
    action.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &action, &earlier_handling[std::size(STOPPING_SIGNALS)]);
}

void restore_signals() {
    for (std::size_t i = 0; i < std::size(STOPPING_SIGNALS); ++i)
        sigaction(STOPPING_SIGNALS[i], &earlier_handling[i], nullptr);
    sigaction(SIGPIPE, &earlier_handling[std::size(STOPPING_SIGNALS)], nullptr);
}

void write_data(const lpt_port& port) {
    port_write(port.base, static_cast<std::uint8_t>(port.data_shadow));
}

}  // namespace

bool send_open(const std::string& device, lpt_port& port) {
    std::uint16_t base = 0;
    if (!lpt_parse_port(device.c_str(), base)) {
        errno = ENODEV;
        return false;
    }
    if (!port_acquire(base))
        return false;
    port.base = base;
    port.first_read = 0;  // no ready handshake: the card's Select carries the echo
    port.log_count = 0;
    port.log_dropped = 0;
    port.data_shadow = DATA_SEND_CLOCK;
    write_data(port);
    catch_signals();
    return true;
}

void send_set_peer(lpt_port& port, bool high) {
    if (high) {
        port.data_shadow |= DATA_OPEN;
    } else {
        port.data_shadow &= static_cast<std::uint16_t>(~DATA_OPEN);
    }
    write_data(port);
}

void send_close(lpt_port& port) {
    send_set_peer(port, false);
    port_release();
    restore_signals();
}

std::uint8_t send_byte_echoed(lpt_port& port, std::uint8_t byte) {
    for (int i = 0; i < SEND_LEAD_DELAYS; ++i)
        lpt_delay();
    const std::uint16_t status_register = port.base + 1;
    const auto idle =
        static_cast<std::uint16_t>(port.data_shadow & ~(DATA_SEND_CLOCK | DATA_SEND_BIT));
    unsigned echo = 0;
    for (int bit = 7; bit >= 0; --bit) {
        // The bit on D1 with D0 low, then D0 rising: the card takes the bit.
        port.data_shadow = idle | (((byte >> bit) & 1) != 0 ? DATA_SEND_BIT : 0);
        write_data(port);
        lpt_delay();
        port.data_shadow |= DATA_SEND_CLOCK;
        write_data(port);
        // The card put the bit it shifts out on SO1 as D0 fell, a delay unit
        // ago.
        const std::uint8_t status = port_read(status_register) ^ STATUS_XOR;
        echo = echo << 1 | ((status & STATUS_SELECT) != 0 ? 1U : 0U);
        lpt_delay();
    }
    return static_cast<std::uint8_t>(echo);
}

bool send_select_low(lpt_port& port) {
    return ((port_read(port.base + 1) ^ STATUS_XOR) & STATUS_SELECT) == 0;
}

bool send_await_card(lpt_port& port, std::int64_t polls) {
    constexpr std::int64_t NS_PER_READ = 1000;
    constexpr std::int64_t READS_PER_LOOK = 1024;  // between two looks at the clock
    const std::uint16_t status_register = port.base + 1;
    const std::int64_t deadline_ns = monotonic_ns() + polls * NS_PER_READ;
    for (std::int64_t i = 0; i < polls; ++i) {
        if (((port_read(status_register) ^ STATUS_XOR) & STATUS_ACK) == 0)
            return true;
        if (send_interrupted != 0)
            return false;
        if (i % READS_PER_LOOK == READS_PER_LOOK - 1 && monotonic_ns() > deadline_ns)
            return false;
    }
    return false;
}

int send_take_answer(lpt_port& port) {
    // Its eight bits take 1 ms: one unit of the poll budget is far more.
    return lpt_read_byte(port, 1);
}
