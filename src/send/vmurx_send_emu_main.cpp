// vmurx-send-emu: vmurx-send against a software card in "Waiting for data",
// to try a restore without a port or a card: the card takes the file into a
// card image as a real card's file manager would, or refuses it, and the
// image changes only when the card accepts the last frame. With --bios the
// card's own system ROM receives, on the processor model, and the image is
// written with what its flash holds once the ROM is done.
//
//   vmurx-send-emu --card IMAGE [card options] FILE [-- vmurx-send options]
//   vmurx-send-emu --bios ROM --card IMAGE [--screen] FILE [-- vmurx-send options]
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"
#include "clock/monotonic_clock.h"
#include "emu/emu_rom.h"
#include "emu/receive_options.h"
#include "files/text.h"
#include "lpt/byte_exchange.h"
#include "platform/emu/emu_platform.h"
#include "send/send_file.h"
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

vmu_cpu_card& rom_card() {
    static vmu_cpu_card card;
    return card;
}

std::int64_t rom_clock_ns() {
    return static_cast<std::int64_t>(rom_card().cpu.time_ps / 1'000);
}

int say(const std::string& message, int status) {
    std::fflush(stdout);
    std::fprintf(stderr, "vmurx-send-emu: %s\n", printable(message).c_str());
    return status;
}

// Whether vmurx-send would refuse its command line or the file before it
// opens the port: then it says so itself, and no ROM need boot first.
bool tool_refuses(std::vector<char*>& tool_argv, const std::string& usage) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> sink(std::fopen("/dev/null", "w"),
                                                               std::fclose);
    if (!sink)
        return false;
    send_command_line cl;
    const int tool_argc = static_cast<int>(tool_argv.size()) - 1;
    if (send_read_command_line(tool_argc, tool_argv.data(), usage, cl, sink.get(), sink.get()) >=
        0) {
        return true;
    }
    std::vector<send_item> items;
    std::vector<std::string> warnings;
    std::string error;
    return !send_load_items(cl, items, warnings, error);
}

// --bios: the ROM boots with the image as its flash, the person at the
// card takes it to the file list, and vmurx-send sends; once the ROM is
// done the image takes what the flash then holds, under the lock held
// since it was read.
int send_to_rom(std::vector<char*>& tool_argv, const std::string& usage) {
    const int tool_argc = static_cast<int>(tool_argv.size()) - 1;
    if (tool_refuses(tool_argv, usage))
        return send_main(tool_argc, tool_argv.data(), usage);
    const receive_options& o = options();
    std::vector<std::uint8_t> rom;
    std::string error;
    vmu_cpu_card& card = rom_card();
    if (!emu_read_rom(o.bios_path, rom, error) ||
        !emu_prepare_rom_receive(rom, o.card.image, card, error, o.screen ? stderr : nullptr)) {
        return say(error, CLI_USAGE);
    }
    emu_use_cpu_card(card);
    // A sitting is tried against the image the ROM holds, as on the model's
    // card, before anything moves.
    int status = send_main(tool_argc, tool_argv.data(), usage, rom_clock_ns, &o.card.image);
    if (card.opened_ps < 0)
        return status;
    std::string shown;
    const bool done = emu_finish_rom_receive(card, shown);
    say("the card shows \"" + shown + "\"", 0);
    if (card.cpu.state == vmu_cpu_state::fault) {
        char at[8];
        std::snprintf(at, sizeof at, "%04X", card.cpu.fault_pc);
        say("the card stopped at " + std::string(at) + ": " + card.cpu.fault, 0);
    }
    card_image after = o.card.image;
    after.bytes = card.cpu.flash;
    const bool changed = after.bytes != o.card.image.bytes;
    if (!done) {
        return say(std::string("the card did not get back to its file list") +
                       (changed ? ": its flash is not written to " + o.image_path : ""),
                   1);
    }
    if (!changed) {
        // The card accepted the last frame and holds nothing new: not a
        // success, whatever it answered.
        return status == 0 ? say("the card accepted the file but its flash is unchanged", 1)
                           : status;
    }
    std::string reason;
    if (!o.card.store(after, reason))
        return say("--card " + o.image_path + ": " + reason, 1);
    say("the card's flash, changed, is written to " + o.image_path, 0);
    return status;
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
    if (options().bios)
        return send_to_rom(tool_argv, usage);
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
