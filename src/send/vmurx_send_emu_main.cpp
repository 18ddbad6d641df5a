// vmurx-send-emu: vmurx-send against a software card in "Waiting for data",
// to try a restore without a port or a card: the card takes the file into a
// card image as a real card's file manager would, or refuses it, and the
// image changes only when the card accepts the last frame.
//
//   vmurx-send-emu --card IMAGE [card options] FILE [-- vmurx-send options]
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "clock/monotonic_clock.h"
#include "emu/receive_options.h"
#include "files/text.h"
#include "lpt/byte_exchange.h"
#include "platform/emu/emu_platform.h"
#include "send/send_main.h"
#include "send/send_options.h"

namespace {

receive_options& options() {
    static receive_options chosen;
    return chosen;
}

// Counting, the card's own time: the progress and the closing line give
// the card's pace, not how fast this machine ran the model.
std::int64_t card_clock_ns() {
    return options().card.now_ps / 1'000;
}

// What the card does once the tool is done: long enough to show where a
// user would find it.
constexpr std::int64_t RUN_ON_PS = 1'000 * PS_PER_MS;

void show_card(const copy_receive& card) {
    std::string screen = receive_screen_text(card.screen);
    if (card.screen != receive_screen::file_list)
        screen = "\"" + screen + "\"";  // words the card shows, not a list
    std::fflush(stdout);
    std::fprintf(stderr, "vmurx-send-emu: the card shows %s\n", screen.c_str());
    // A note names the file as the card took it: any bytes.
    for (const std::string& note : card.notes)
        std::fprintf(stderr, "vmurx-send-emu: the card: %s\n", printable(note).c_str());
}

// vmurx-send's options that may come before "--" as well: all but --card,
// which is the software card's here, and --entry and --all, which go with it.
std::vector<cli_option> tool_rows() {
    std::vector<cli_option> rows;
    for (const cli_option& row : send_option_rows()) {
        const std::string_view name = row.name;
        if (name != "card" && name != "entry" && name != "all")
            rows.push_back(row);
    }
    return rows;
}

}  // namespace

int main(int argc, char* argv[]) {
    std::vector<char*> tool_argv;
    static const std::vector<cli_option> rows = tool_rows();
    if (const int status = receive_split_command_line(argc, argv, options(), tool_argv, rows);
        status >= 0) {
        return status;
    }
    const std::string usage = send_usage("vmurx-send-emu", "[card options] --");
    copy_receive& card = options().card;
    if (options().image_path.empty()) {
        // vmurx-send's own help needs no card; anything else does.
        send_command_line cl;
        const int tool_argc = static_cast<int>(tool_argv.size()) - 1;
        if (const int status = send_read_command_line(tool_argc, tool_argv.data(), usage, cl);
            status >= 0) {
            return status;
        }
        return receive_no_card();
    }
    // Counting, the backend tells the card each delay unit, which costs the
    // floor in the card's time, and the tool does not wait.
    if (options().realtime)
        emu_use_realtime(options().realtime_config);
    emu_use_receive_card(card);
    // In real time the card keeps this machine's clock.
    const int status = send_main(static_cast<int>(tool_argv.size()) - 1, tool_argv.data(), usage,
                                 options().realtime ? monotonic_ns : card_clock_ns, &card.image);
    if (card.started) {
        if (!options().realtime)
            copy_receive_run_to(card, card.now_ps + RUN_ON_PS);
        show_card(card);
    }
    return status;
}
