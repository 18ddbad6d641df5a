// What vmurx-card's commands share: messages, opening a card and writing one
// back only when the new image checks clean.
#include <cstdio>

#include "card/card_check.h"
#include "card/card_disk.h"
#include "card/vmurx_card.h"
#include "files/text.h"

int card_fail(const std::string& object, const std::string& reason, int status) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s: %s\n", CARD_PROGRAM, printable(object).c_str(), reason.c_str());
    return status;
}

int card_fail_write(const file_error& error) {
    if (error.cause == file_failure::exists)
        return card_fail(error.object, error.reason + " (use --force to replace it)");
    return card_fail(error.object, error.reason);
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

int card_write_changed(const std::string& path, const card_image& card, bool was_broken) {
    // The new image as it will be read back: its own file bytes, read again.
    card_image again;
    std::string reason;
    if (!card_from_file(card_to_file(card), again, reason) || again.order != card.order)
        return card_fail(path, "the new image would not read back; the card is unchanged");
    const card_report report = card_check(again);
    if (!report.errors.empty() && !was_broken) {
        return card_fail(path, "the new image would have errors (" + report.errors.front() +
                                   "); the card is unchanged");
    }
    file_error error;
    if (!card_store(path, card, true, error))
        return card_fail_write(error);
    return 0;
}

std::string card_shown_name(const card_file& file) {
    return printable(card_name_text(card_file_name(file)));
}
