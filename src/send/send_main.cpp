// The order of a run: the command line, the environment and the file are
// all checked before the port is opened, so that a refusal moves nothing.
#include "send/send_main.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "files/text.h"
#include "lpt/byte_exchange.h"
#include "platform/platform.h"
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

// After the last frame of a file the card shows "Waiting for data" a
// moment more, then its first page (free and game blocks), blind to D3,
// and about 8.3 s after the answer its file list, which takes a D3 already
// high: so found on the card's system ROM run on the processor model.
// Nothing to press; the next file waits that long with D3 low, and more
// (the lead of its transfer) before D3 rises.
constexpr unsigned CARD_RETURN_MS = 9'000;
constexpr unsigned RETURN_STEP_MS = 100;

// The names of items[from] to items[to - 1].
std::string names_of(const std::vector<send_item>& items, std::size_t from,
                     std::size_t to = SIZE_MAX) {
    std::string names;
    for (std::size_t i = from; i < std::min(to, items.size()); ++i)
        names += (names.empty() ? "" : ", ") + send_name_text(items[i]);
    return names;
}

void note(const std::string& line) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", SEND_TOOL, line.c_str());
}

// The card on its way back to its file list, a sleep at a time: false when
// interrupted meanwhile.
bool await_card_return() {
    for (unsigned waited = 0; waited < CARD_RETURN_MS; waited += RETURN_STEP_MS) {
        if (send_interrupted != 0)
            return false;
        sleep_ms(RETURN_STEP_MS);
    }
    return send_interrupted == 0;
}

// Every file in turn; at the first that fails the run ends, and the
// message says which are on the card.
int send_all(lpt_port& port, const std::vector<send_item>& items, const send_settings& settings) {
    const std::size_t count = items.size();
    if (count > 1 && !settings.quiet) {
        note(std::to_string(count) + " files, in this order: " + names_of(items, 0) +
             ". Leave the card on its file list: after each file it shows its first page "
             "(Free, Game) and goes back to its list by itself, and the next file follows; "
             "nothing to press");
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            if (!settings.quiet) {
                note(send_name_text(items[i - 1]) + " is on the card (" + std::to_string(i) +
                     " of " + std::to_string(count) +
                     "); it shows its first page and goes back to its file list by itself: "
                     "nothing to press, the next file follows in " +
                     std::to_string(CARD_RETURN_MS / 1'000) + " s");
            }
            if (!await_card_return()) {
                note("interrupted: on the card " + std::string(i == 1 ? "is " : "are ") +
                     names_of(items, 0, i) + "; not sent: " + names_of(items, i));
                return 1;
            }
        }
        if (send_transfer(port, items[i], settings) != 0) {
            if (count > 1) {
                note("the sitting ends at " + send_name_text(items[i]) + "; " +
                     (i == 0 ? std::string("nothing was sent before it")
                             : "sent before it: " + names_of(items, 0, i)) +
                     (i + 1 < count ? "; not sent: " + names_of(items, i + 1) : ""));
            }
            return 1;
        }
    }
    if (count > 1 && !settings.quiet)
        note("all " + std::to_string(count) + " files are on the card");
    return 0;
}

}  // namespace

int send_main(int argc, char* argv[], const std::string& usage, send_clock clock,
              const card_image* target) {
    send_command_line cl;
    if (const int status = send_read_command_line(argc, argv, usage, cl); status >= 0)
        return status;
    if (!take_delay_floor()) {
        return failed(std::string(DELAY_FLOOR_VARIABLE) +
                      " must be a whole number of microseconds from 0 to 10000");
    }
    std::vector<send_item> items;
    std::vector<std::string> warnings;
    std::string error;
    if (!send_load_items(cl, items, warnings, error))
        return failed(error);
    for (const std::string& warning : warnings)
        std::fprintf(stderr, "%s: warning: %s\n", SEND_TOOL, printable(warning).c_str());
    // One file alone meets the card's own refusals, which move nothing but
    // for the last frame's (the transfer says so); files in a sitting are
    // tried first, so that none is refused once others are on the card.
    if (const std::vector<std::string> refused =
            items.size() > 1 ? send_plan(items, target) : std::vector<std::string>{};
        !refused.empty()) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: the card would refuse %s%s:\n", SEND_TOOL,
                     refused.size() == 1 ? "this file" : "these files",
                     target == nullptr ? " even were it blank" : "");
        for (const std::string& line : refused)
            std::fprintf(stderr, "%s:   %s\n", SEND_TOOL, printable(line).c_str());
        return failed("nothing was sent: leave those files out, or make room on the card first");
    }
    lpt_port& port = the_port();
    if (!send_open(cl.device, port))
        return failed("cannot open the port " + cl.device + ": " + std::strerror(errno));
    const int status =
        send_all(port, items, {.echo_check = cl.echo_check, .quiet = cl.quiet, .clock = clock});
    send_close(port);
    return status;
}
