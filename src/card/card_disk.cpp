// Reading and writing card files, and the names of entries and outputs.
#include "card/card_disk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "files/atomic_write.h"
#include "files/bounded_read.h"

bool card_load(const std::string& path, card_image& card, file_error& error) {
    bounded_file file;
    if (!read_file_bounded(path, CARD_SIZE, file, error)) {
        if (error.cause == file_failure::too_large)
            error.reason = "not a card image: " + error.reason;
        return false;
    }
    std::string reason;
    if (!card_from_file(file.bytes, card, reason)) {
        error = {path, reason, file_failure::content};
        return false;
    }
    return true;
}

namespace {

// card_store, and card_store_held with the card it holds.
bool store(const std::string& path, const card_image& card, bool replace, const held_file* held,
           file_error& error) {
    const std::vector<std::uint8_t> bytes = card_to_file(card);
    struct stat before {};
    const bool existed = lstat(path.c_str(), &before) == 0;
    // All or nothing, through a temporary file renamed over the card, which
    // keeps the card's mode.
    if (!write_files_atomically({{path, bytes, std::nullopt, held}}, replace, error)) {
        if (error.cause == file_failure::changed)
            error.reason = "changed by another program while it was being edited";
        if (!error.kept_as.empty())
            error.reason += "; its old image is kept as " + error.kept_as;
        else if (error.cause == file_failure::changed)
            error.reason += "; nothing was written";
        else if (existed && replace)
            error.reason += "; the card is unchanged";
        return false;
    }
    // The new image has taken the card's name by now: a failure from here on
    // says so, since the old image is gone.
    bounded_file back;
    if (!read_file_bounded(path, CARD_SIZE, back, error) &&
        error.cause != file_failure::too_large) {
        error.reason += " (reading it back); the new image is in place";
        return false;
    }
    if (back.bytes != bytes) {
        error = {path,
                 "the card read back differs from what was written; the new image is in place",
                 file_failure::content};
        return false;
    }
    return true;
}

// Whether this user may write the card as the user means it: root by any
// write bit, anyone else by the permissions.
bool may_write(const std::string& path, const struct stat& status) {
    if (geteuid() == 0)
        return (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
    return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

}  // namespace

bool card_store(const std::string& path, const card_image& card, bool replace, file_error& error) {
    return store(path, card, replace, nullptr, error);
}

bool card_hold(const std::string& path, bool force, card_held& held, file_error& error) {
    // The new image never replaces a symbolic link (nor what it names), so
    // a card reached through one is refused now, before any work is done
    // for a write that would fail, and whatever --force says.
    if (struct stat link{}; lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        error = {path,
                 "it is a symbolic link, and a changed card is only ever written over a regular "
                 "file (name the card itself)",
                 file_failure::not_regular};
        return false;
    }
    if (!hold_file(path, CARD_SIZE, held.file, error)) {
        if (error.cause == file_failure::too_large)
            error.reason = "not a card image: " + error.reason;
        return false;
    }
    std::string reason;
    if (!card_from_file(held.file.bytes, held.card, reason)) {
        error = {path, reason, file_failure::content};
        return false;
    }
    const struct stat& status = held.file.status;
    if (!force && !may_write(path, status)) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
        error = {path, std::string("read-only (mode ") + mode + ")", file_failure::read_only};
        return false;
    }
    if (!force && status.st_nlink > 1) {
        error = {path,
                 "it has " + std::to_string(status.st_nlink) +
                     " names (hard links), and a new image would part this one from the others",
                 file_failure::linked};
        return false;
    }
    return true;
}

bool card_store_held(const card_held& held, const card_image& card, file_error& error) {
    return store(held.file.path, card, true, &held.file, error);
}

namespace {

std::string without_trailing_spaces(std::string name) {
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    return name;
}

// The slots of the files named `entry`: exactly, or with the trailing
// spaces of both names dropped.
std::vector<std::size_t> slots_named(const card_image& card, const card_layout& layout,
                                     const std::string& entry, bool trim_spaces) {
    std::vector<std::size_t> found;
    const std::string wanted = trim_spaces ? without_trailing_spaces(entry) : entry;
    for (const card_file& file : card_files(card, layout)) {
        const std::string name = card_file_name(file);
        if ((trim_spaces ? without_trailing_spaces(name) : name) == wanted)
            found.push_back(file.slot);
    }
    return found;
}

}  // namespace

bool card_find_entry(const card_image& card, const card_layout& layout, const std::string& entry,
                     std::size_t& slot, std::string& reason) {
    // "#N" names a slot, whatever the names on the card.
    if (entry.size() > 1 && entry[0] == '#' &&
        entry.find_first_not_of("0123456789", 1) == std::string::npos && entry.size() < 6) {
        slot = std::stoul(entry.substr(1));
        if (slot >= card_slot_count(layout) ||
            card_read_entry(card, layout, slot).type == CARD_TYPE_NONE) {
            reason = "no file in slot " + entry;
            return false;
        }
        return true;
    }
    std::vector<std::size_t> found = slots_named(card, layout, entry, false);
    if (found.empty())
        found = slots_named(card, layout, entry, true);
    if (found.empty()) {
        reason = "no file of this name on the card";
        return false;
    }
    if (found.size() > 1) {
        reason = "several files have this name, give one of their slots:";
        for (const std::size_t s : found)
            reason += " #" + std::to_string(s);
        return false;
    }
    slot = found.front();
    return true;
}

bool card_is_image(const std::string& path) {
    card_image card;
    card_layout layout;
    file_error error;
    std::string reason;
    return card_load(path, card, error) && card_read_layout(card, layout, reason);
}

bool card_take_file(const std::string& path, const std::string& entry, card_file& file,
                    std::vector<std::uint8_t>& content, std::string& error) {
    card_image card;
    card_layout layout;
    file_error failure;
    std::string reason;
    std::size_t slot = 0;
    if (!card_load(path, card, failure)) {
        error = failure.object + ": " + failure.reason;
        return false;
    }
    if (!card_read_layout(card, layout, reason) ||
        !card_find_entry(card, layout, entry, slot, reason)) {
        error = path + ": " + entry + ": " + reason;
        return false;
    }
    file = card_read_entry(card, layout, slot);
    const card_chain chain = card_follow_chain(card, layout, file.first_block, file.blocks);
    if (!chain.fault.empty()) {
        error = path + ": " + entry + ": " + chain.fault;
        return false;
    }
    content = card_chain_bytes(card, chain);
    return true;
}

std::string card_output_name(const std::string& card_name) {
    std::string name = card_name;
    while (!name.empty() && (name.back() == '\0' || name.back() == ' '))
        name.pop_back();
    for (char& c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || byte < 0x20 || byte == 0x7F)
            c = '_';
    }
    if (name.empty())
        return "_";
    // No hidden file whose name the card chooses, and no "." or "..".
    if (name[0] == '.')
        name[0] = '_';
    return name;
}
