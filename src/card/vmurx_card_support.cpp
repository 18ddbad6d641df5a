// What vmurx-card's commands share: messages, opening a card and writing one
// back only when the new image checks clean.
#include <cstdio>

#include "card/card_check.h"
#include "card/card_disk.h"
#include "card/vmurx_card.h"
#include "files/text.h"

int card_fail(const std::string& object, const std::string& reason, int status) {
    std::fflush(stdout);
    // The reason may carry names and paths of any bytes, too.
    std::fprintf(stderr, "%s: %s: %s\n", CARD_PROGRAM, printable(object).c_str(),
                 printable(reason).c_str());
    return status;
}

int card_fail_write(const file_error& error) {
    switch (error.cause) {
        case file_failure::exists:
            return card_fail(error.object, error.reason + " (use --force to replace it)");
        case file_failure::read_only:
            return card_fail(error.object,
                             error.reason +
                                 "; nothing was written (use --force to change it all "
                                 "the same)");
        case file_failure::linked:
            return card_fail(error.object, error.reason +
                                               "; nothing was written (use --force to change "
                                               "this name alone)");
        case file_failure::in_use:
            return card_fail(error.object, error.reason + "; nothing was written");
        default:
            return card_fail(error.object, error.reason);
    }
}

bool card_open(const std::string& path, card_image& card, card_layout& layout) {
    file_error error;
    if (!card_load(path, card, error)) {
        card_fail(error.object, error.reason, 2);
        return false;
    }
    std::string reason;
    if (!card_read_layout(card, layout, reason)) {
        card_fail(path, reason, 2);
        return false;
    }
    return true;
}

namespace {

// Holds the card: false, with the status after the message, when it cannot
// be read (2) or may not be changed (1).
bool open_held(const std::string& path, bool force, card_held& held, card_layout& layout,
               int& status) {
    file_error error;
    if (!card_hold(path, force, held, error)) {
        const bool unusable =
            error.cause == file_failure::system || error.cause == file_failure::too_large ||
            error.cause == file_failure::not_regular || error.cause == file_failure::content;
        card_fail_write(error);
        status = unusable ? 2 : 1;
        return false;
    }
    std::string reason;
    if (!card_read_layout(held.card, layout, reason)) {
        status = card_fail(path, reason, 2);
        return false;
    }
    return true;
}

// Writes the changed card over the held one, after checking the new image.
int write_changed(const card_held& held, const card_image& card, bool keep_errors) {
    const std::string& path = held.file.path;
    // The new image as it will be read back: its own file bytes, read again.
    card_image again;
    std::string reason;
    if (!card_from_file(card_to_file(card), again, reason) || again.order != card.order)
        return card_fail(path, "the new image would not read back; the card is unchanged");
    const card_report report = card_check(again);
    if (!report.errors.empty() && !keep_errors) {
        return card_fail(path, "the new image would have errors (" + report.errors.front() +
                                   "); the card is unchanged");
    }
    file_error error;
    if (!card_store_held(held, card, error))
        return card_fail_write(error);
    return 0;
}

}  // namespace

int card_change(const card_command_line& cl, const card_change_fn& change, bool any_root) {
    card_held held;
    card_layout layout;
    if (int status = 0; !open_held(cl.operands.front(), cl.force, held, layout, status))
        return status;
    if (std::string reason; !any_root && !card_layout_sound(held.card, layout, reason)) {
        return card_fail(held.file.path,
                         reason +
                             "; nothing is written through this root, and the card is "
                             "unchanged (vmurx-card check says more)");
    }
    card_image card = held.card;
    card_changes changes;
    if (const int status = change(card, layout, changes); status != 0)
        return status;
    if (changes.write) {
        if (const int status = write_changed(held, card, changes.keep_errors); status != 0)
            return status;
    }
    for (const std::string& line : cl.quiet ? std::vector<std::string>{} : changes.lines)
        std::printf("%s\n", printable(line).c_str());
    return changes.status;
}

std::string card_shown_name(const card_file& file) {
    return printable(card_name_text(card_file_name(file)));
}
