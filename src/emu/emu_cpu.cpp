// Building the processor card of vmurx-emu --cpu and showing it at the end.
#include "emu/emu_cpu.h"

#include <optional>
#include <vector>

#include "card/card_check.h"
#include "card/card_disk.h"
#include "card/card_edit.h"
#include "files/bounded_read.h"
#include "vmu/cpu_card/card_setup.h"
#include "vmu/cpu_card/sender_image.h"

namespace {

bool read_sender(const std::string& path, std::vector<std::uint8_t>& image, std::string& error) {
    if (path.empty()) {
        const auto built_in = vmu_sender_image();
        image.assign(built_in.begin(), built_in.end());
        return true;
    }
    bounded_file file;
    file_error failure;
    if (!read_file_bounded(path, VMU_FLASH_SIZE / 2, file, failure) &&
        failure.cause != file_failure::too_large) {
        error = "cannot read " + path + ": " + failure.reason;
        return false;
    }
    image = std::move(file.bytes);  // empty when too large
    if (image.empty()) {
        error = path + " is no game the card can hold";
        return false;
    }
    return true;
}

// The file ENTRY names in `card`; the first listed file for no ENTRY, or
// none at all on a card without files, where the sender only says so.
bool chosen_file(const card_image& card, const std::string& entry, std::optional<card_file>& chosen,
                 std::string& error) {
    if (entry.empty()) {
        const std::vector<card_file> listed = cpu_card_listed(card);
        if (!listed.empty())
            chosen = listed.front();
        return true;
    }
    card_layout layout;
    std::size_t slot = 0;
    if (!card_read_layout(card, layout, error) ||
        !card_find_entry(card, layout, entry, slot, error)) {
        error = "--entry " + entry + ": " + error;
        return false;
    }
    chosen = card_read_entry(card, layout, slot);
    // The sender sends the entry's own name, by which the tool stores it up
    // to its first NUL.
    if (chosen->name.front() == '\0') {
        error = "--entry " + entry + ": the entry has no card name (its first byte is NUL)";
        return false;
    }
    return true;
}

// Puts the sender into the game slot of the card's copy. A user's card may
// hold it already, installed as a game of its name: that one gives way in
// the copy, and the note says so.
bool put_sender(card_image& image, const emu_cpu_options& options,
                const std::vector<std::uint8_t>& sender, std::string& note, std::string& error) {
    card_layout layout;
    if (!card_read_layout(image, layout, error))
        return false;
    for (const card_file& file : card_files(image, layout)) {
        if (file.type != TYPE_GAME || card_file_name(file) != CPU_CARD_SENDER_NAME)
            continue;
        if (!card_remove(image, file.slot, error))
            return false;
        note = "the card's own sender (" + card_entry_label(file) + ") gives way to " +
               (options.sender_path.empty() ? std::string("the built one") : options.sender_path) +
               " in the card's copy";
    }
    std::string reason;
    if (!cpu_card_install(image, sender, reason)) {
        error = "cannot put the sender on the card's copy: " + reason;
        return false;
    }
    return true;
}

// What the sender shows before the first press: its list, or that the card
// holds no files.
constexpr double SENDER_STARTED_MS = 1000;

}  // namespace

bool emu_prepare_cpu_card(const emu_cpu_options& options, vmu_cpu_card& card, std::string& note,
                          std::string& error) {
    card_image image;
    if (options.card_path.empty()) {
        image = cpu_card_sample_card();
    } else {
        file_error failure;
        if (!card_load(options.card_path, image, failure)) {
            error = failure.object + ": " + failure.reason;
            return false;
        }
    }
    std::optional<card_file> chosen;
    std::vector<std::uint8_t> sender;
    if (!chosen_file(image, options.entry, chosen, error) ||
        !read_sender(options.sender_path, sender, error)) {
        return false;
    }
    if (!put_sender(image, options, sender, note, error))
        return false;
    std::size_t index = 0;
    if (chosen && !cpu_card_list_index(image, *chosen, index)) {
        error = "the sender does not list " + card_file_name(*chosen);
        return false;
    }
    vmu_cpu_load_card(card.cpu, image.bytes);
    card.cycles_per_read = static_cast<unsigned>(options.cycles_per_read);
    card.cycles_per_delay = static_cast<unsigned>(options.cycles_per_delay);
    card.docked = options.docked;
    const cpu_card_speed speed = options.safe ? cpu_card_speed::safe : cpu_card_speed::fast;
    card.presses = chosen ? cpu_card_choose(index, speed) : std::vector<cpu_card_press>{};
    cpu_card_reset(card);
    cpu_card_run_to_ms(card, chosen ? cpu_card_chosen_ms(index, speed) : SENDER_STARTED_MS);
    card.pause = options.pause;  // they begin with the PC's first access
    return true;
}

void emu_print_cpu_card(vmu_cpu_card& card, std::FILE* out) {
    const double now_ms = static_cast<double>(card.cpu.time_ps) / 1e9;
    cpu_card_run_to_ms(card, now_ms + 1000);
    std::fputs(cpu_card_lcd(card.cpu).c_str(), out);
    std::fprintf(out, "card: drove P1 bits 0x%02X, drives 0x%02X at the end\n", card.ever_driven,
                 cpu_card_driven(card));
    if (card.opened_ps >= 0) {
        std::fprintf(out,
                     "card: %.3f ms of its own time from the port's opening to the tool's end\n",
                     now_ms - static_cast<double>(card.opened_ps) / 1e9);
    }
    if (card.cpu.state == vmu_cpu_state::fault)
        std::fprintf(out, "card: fault at %04X: %s\n", card.cpu.fault_pc, card.cpu.fault.c_str());
    for (const std::string& note : vmu_cpu_notes(card.cpu))
        std::fprintf(out, "card: note: %s\n", note.c_str());
}
