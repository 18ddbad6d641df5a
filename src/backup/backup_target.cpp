// The two targets of a backup.
#include "backup/backup_target.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>
#include <utility>

#include "card/card_edit.h"
#include "card/card_outputs.h"
#include "card/card_place.h"
#include "files/text.h"
#include "save/containers.h"
#include "save/save_files.h"
#include "save/stamp.h"

std::string backup_file_name(const backup_file& file) {
    directory_entry entry;
    entry.name = file.name;
    return card_file_name(entry);
}

namespace {

std::string blocks_words(std::size_t blocks) {
    return std::to_string(blocks) + (blocks == 1 ? " block" : " blocks");
}

// The entry the file gets, wherever it goes: its bytes as the card sent them.
card_file entry_of(const backup_file& file) {
    card_file entry;
    entry.type = file.game ? TYPE_GAME : TYPE_DATA;
    entry.protection = 0x00;  // a copy-protected file is never sent
    entry.name = file.name;
    card_set_entry_tail(entry, file.tail);
    return entry;
}

std::string write_failure(const file_error& error) {
    std::string text = error.object + ": " + error.reason;
    if (!error.kept_as.empty())
        text += " (the earlier file is kept as " + error.kept_as + ")";
    return text;
}

class card_target final : public backup_target {
public:
    explicit card_target(std::string path) : path_(std::move(path)) {}

    bool begin(std::string& error) override {
        held_.reset();
        struct stat st {};
        if (lstat(path_.c_str(), &st) != 0) {
            if (errno != ENOENT) {
                // Told now, not after a whole file has come for it.
                error = path_ + ": " + std::strerror(errno);
                return false;
            }
            // A blank card as the console formats it, written with the first
            // file that arrives.
            card_ =
                card_new({0xFF, 0xFF, 0xFF, 0xFF}, 0, standard_time_stamp(std::time(nullptr)),
                         ascii_lower(path_).ends_with(".dcm") ? card_order::dcm : card_order::raw);
        } else {
            held_ = std::make_unique<card_held>();
            file_error failure;
            if (!card_hold(path_, false, *held_, failure)) {
                held_.reset();
                error = failure.object + ": " + failure.reason;
                return false;
            }
            card_ = held_->card;
        }
        std::string reason;
        if (!card_read_layout_to_write(card_, layout_, reason)) {
            end();
            error = path_ + ": " + reason + " (vmurx-card check says more)";
            return false;
        }
        return true;
    }

    backup_refusal check_size(bool game, std::size_t blocks) override {
        if (!card_free_slot(card_, layout_)) {
            return {"the directory of " + path_ + " is full",
                    "back up the rest into another image"};
        }
        if (blocks == 0)
            return {"the card announces a file of no blocks", "look at the file on the card"};
        if (!card_choose_blocks(card_, layout_, game, blocks).empty())
            return {};
        const std::size_t free = card_free_user_blocks(card_, layout_);
        if (game) {
            return {"a game of " + blocks_words(blocks) +
                        " needs its blocks free from block 0 of " + path_ + " (" +
                        blocks_words(free) + " free)",
                    "an image holds one game: back it up into another image, or pack the data "
                    "files with vmurx-card defrag"};
        }
        return {
            path_ + " has " + blocks_words(free) + " free, the file needs " + blocks_words(blocks),
            "back the rest up into another image"};
    }

    backup_refusal check_name(const backup_file& file) override {
        for (const card_file& entry : card_files(card_, layout_)) {
            if (entry.name == file.name) {
                return {"a file of this name is in " + path_ + " already (slot " +
                            std::to_string(entry.slot) + ")",
                        "skip it, or remove it from the image with vmurx-card remove"};
            }
        }
        return {};
    }

    bool store(const backup_file& file, std::string& where, std::string& error) override {
        const std::vector<std::uint16_t> blocks =
            card_choose_blocks(card_, layout_, file.game, file.blocks);
        const std::optional<std::size_t> slot = card_free_slot(card_, layout_);
        if (blocks.empty() || !slot) {
            error = "no room in " + path_;  // checked with the start frame
            return false;
        }
        card_image written = card_;
        card_write_chain(written, layout_, blocks, file.content);
        card_file entry = entry_of(file);
        entry.slot = *slot;
        entry.first_block = blocks.front();
        card_put_entry(written, layout_, entry);
        file_error failure;
        const bool stored = held_ ? card_store_held(*held_, written, failure)
                                  : card_store(path_, written, false, failure);
        if (!stored) {
            error = write_failure(failure);
            return false;
        }
        card_ = std::move(written);
        where = path_ + ", slot " + std::to_string(entry.slot) + ", " +
                (blocks.size() == 1 ? "block " + std::to_string(blocks.front())
                                    : "blocks " + std::to_string(blocks.front()) + " to " +
                                          std::to_string(blocks.back()));
        return true;
    }

    void end() override { held_.reset(); }

private:
    std::string path_;
    std::unique_ptr<card_held> held_;  // null: no image yet
    card_image card_;
    card_layout layout_;
};

class folder_target final : public backup_target {
public:
    folder_target(std::string dir, card_name_form form) : dir_(std::move(dir)), form_(form) {}

    bool begin(std::string& error) override {
        struct stat st {};
        if (stat(dir_.c_str(), &st) != 0) {
            error = dir_ + ": " + std::strerror(errno);
            return false;
        }
        if (!S_ISDIR(st.st_mode)) {
            error = dir_ + ": not a folder";
            return false;
        }
        return true;
    }

    backup_refusal check_size(bool, std::size_t blocks) override {
        if (blocks == 0)
            return {"the card announces a file of no blocks", "look at the file on the card"};
        return {};
    }

    backup_refusal check_name(const backup_file& file) override {
        const auto taken = [this](const std::string& stem) {
            return card_stem_taken(dir_, stem, form_);
        };
        // Its own name, unless a .VMS name that the card name does not fit:
        // that one is chosen free.
        const card_disk_name name = card_disk_names({backup_file_name(file)}, form_, taken).front();
        stem_ = name.stem;
        if (stem_.empty()) {
            return {"no name for it is free in " + dir_,
                    "move the files of its name out of the folder"};
        }
        if (!name.chosen && taken(stem_)) {
            const char* ending = form_ == card_name_form::dci   ? ".DCI"
                                 : form_ == card_name_form::vms ? ".VMS"
                                                                : "";
            return {dir_ + "/" + stem_ + ending + " is there already",
                    "skip it, or move that file out of the folder"};
        }
        return {};
    }

    bool store(const backup_file& file, std::string& where, std::string& error) override {
        // A file of the name may have come since the name frame: the write
        // never replaces one.
        std::vector<output_file> outputs;
        if (!card_entry_outputs(form_, dir_ + "/" + stem_, entry_of(file), file.content, outputs,
                                error)) {
            return false;
        }
        file_error failure;
        if (!write_outputs(outputs, false, failure)) {
            error = write_failure(failure);
            return false;
        }
        where.clear();
        for (const output_file& out : outputs)
            where += (where.empty() ? "" : " and ") + out.path;
        return true;
    }

    void end() override {}

private:
    std::string dir_;
    card_name_form form_;
    std::string stem_;  // the name of the file in progress
};

}  // namespace

std::unique_ptr<backup_target> backup_make_target(const backup_command_line& cl) {
    if (!cl.card.empty())
        return std::make_unique<card_target>(cl.card);
    return std::make_unique<folder_target>(cl.folder, cl.form);
}
