// The order of a run: the command line, the environment and the file are
// all checked before the port is opened, so that a refusal moves nothing.
#include "send/send_main.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "files/text.h"
#include "lpt/byte_exchange.h"
#include "send/send_link.h"
#include "send/send_transfer.h"

namespace {

// The port's record holds the core's communications log: too large for the
// stack.
lpt_port& the_port() {
    static lpt_port port;
    return port;
}

// A name in a message may hold a terminal's escapes: shown as every
// program shows them.
int failed(const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", SEND_TOOL, printable(message).c_str());
    return 1;
}

// The delay floor: VMURX_DELAY_US as vmurx reads it, but never less than
// the card needs to re-arm its receiver after an answer within the lead
// before a byte.
bool take_delay_floor() {
    unsigned floor_us = delay_floor_us();
    if (const char* text = std::getenv(DELAY_FLOOR_VARIABLE)) {
        if (!parse_delay_floor(text, floor_us))
            return false;
    }
    set_delay_floor_us(std::max(floor_us, CABLE_RECEIVE_FLOOR_US));
    return true;
}

}  // namespace

int send_main(int argc, char* argv[], const std::string& usage, send_clock clock) {
    send_command_line cl;
    if (const int status = send_read_command_line(argc, argv, usage, cl); status >= 0)
        return status;
    if (!take_delay_floor()) {
        return failed(std::string(DELAY_FLOOR_VARIABLE) +
                      " must be a whole number of microseconds from 0 to 10000");
    }
    send_item item;
    std::string error;
    if (!send_load_item(cl, item, error))
        return failed(error);
    for (const std::string& warning : item.warnings)
        std::fprintf(stderr, "%s: warning: %s\n", SEND_TOOL, printable(warning).c_str());
    lpt_port& port = the_port();
    if (!send_open(cl.device, port))
        return failed("cannot open the port " + cl.device + ": " + std::strerror(errno));
    const int status =
        send_transfer(port, item, {.echo_check = cl.echo_check, .quiet = cl.quiet, .clock = clock});
    send_close(port);
    return status;
}
