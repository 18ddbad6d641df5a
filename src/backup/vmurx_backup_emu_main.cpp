// vmurx-backup-emu: vmurx-backup against the card's own Copy as modelled,
// or with --bios as the card's system ROM runs it on the processor model, to
// try a whole backup without a port or a card: a person at the card chooses
// every file of a card image in turn, takes Copy and answers the prompts, so
// that the run needs no input. A copy-protected file is passed over as the
// card itself refuses it ("Unable to copy").
//
//   vmurx-backup-emu --card SOURCE [--bios ROM] [card options] -- [vmurx-backup options]
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "backup/backup_options.h"
#include "backup/backup_run.h"
#include "card/card_disk.h"
#include "cli/cli.h"
#include "emu/emu_card.h"
#include "emu/emu_options.h"
#include "emu/emu_setup.h"
#include "files/text.h"
#include "platform/emu/emu_platform.h"
#include "save/containers.h"

namespace {

constexpr const char* PROGRAM = "vmurx-backup-emu";

emu_options& options() {
    static emu_options chosen;
    return chosen;
}

// The card's own time over the whole run, from each port opening to the
// file's end: the cards of the files done, and the one in progress.
std::int64_t done_ps = 0;
bool card_in_progress = false;

std::int64_t card_clock_ns() {
    return (done_ps + (card_in_progress ? emu_card_time_ps(options()) : 0)) / 1'000;
}

constexpr const char* PROTECTED =
    ": the card shows \"Unable to copy\": the file is copy-protected, and the card will not "
    "send it; skipped";

// The person at the card: each file of the source in slot order, Copy taken
// on it, Yes and A pressed when the PC is ready.
class card_person final : public backup_person {
public:
    card_person(std::vector<card_file> files, emu_request request, emu_options chosen)
        : files_(std::move(files)), request_(std::move(request)), chosen_(std::move(chosen)) {}

    bool next(std::vector<std::string>& skipped) override {
        show_card();
        while (next_ < files_.size()) {
            const card_file& file = files_[next_++];
            const std::string name = printable(card_file_name(file));
            request_.entry = "#" + std::to_string(file.slot);
            options() = chosen_;
            std::string error;
            if (chosen_.card == emu_card::rom) {
                if (file.protection == CARD_PROTECTED) {
                    skipped.push_back(name + PROTECTED);
                    continue;
                }
                // The person boots the card with the source in its flash,
                // chooses this file and takes Copy up to "Copy ?".
                options().cpu.card_path = request_.source;
                options().cpu.entry = request_.entry;
                if (!emu_put_card(options(), error)) {
                    skipped.push_back(name + ": " + printable(error) + "; skipped");
                    continue;
                }
                card_in_progress = true;
                return true;
            }
            if (!emu_setup_card(request_, emu_vmu(), options(), error)) {
                skipped.push_back(name + ": " + printable(error) + "; skipped");
                continue;
            }
            if (options().copy.config.copy_protected) {
                skipped.push_back(name + PROTECTED);
                continue;
            }
            if (!emu_put_card(options(), error)) {
                skipped.push_back(name + ": " + printable(error) + "; skipped");
                continue;
            }
            card_in_progress = true;
            return true;
        }
        return false;
    }

    void go() override {}

    // After the last file: where the card ended.
    void show_card() {
        if (!card_in_progress)
            return;
        done_ps += emu_card_time_ps(options());
        card_in_progress = false;
        emu_show_card(options(), PROGRAM, stderr);
    }

private:
    std::vector<card_file> files_;
    std::size_t next_ = 0;
    emu_request request_;
    emu_options chosen_;
};

// What the card options may not ask of this program.
std::string refused(const emu_options& chosen, const emu_request& request) {
    if (chosen.card != emu_card::copy && chosen.card != emu_card::rom)
        return "the backup runs through the card's own Copy: not with --scripted or --cpu";
    if (request.source.empty() || !request.source_is_card)
        return "give --card SOURCE, the card image whose files are backed up";
    if (!request.entry.empty())
        return "--entry: every file of SOURCE is backed up, one after the other";
    if (request.name || request.type || request.stamp)
        return "--name, --raw-name, --type and --stamp are for one file; SOURCE's entries tell";
    return "";
}

}  // namespace

int main(int argc, char* argv[]) {
    std::vector<char*> tool_argv;
    emu_request request;
    const int split = emu_split_command_line(
        argc, argv, emu_vmu(), options(), "vmurx-backup",
        "Runs vmurx-backup against the card's own Copy, as modelled or with --bios on its\n"
        "system ROM: a person at the card copies every file of --card's image in turn\n"
        "and answers the prompts.",
        tool_argv, {}, &request);
    if (split >= 0)
        return split;
    const std::string usage = backup_usage(PROGRAM, "--card SOURCE [card options] --");
    backup_command_line cl;
    if (const int status = backup_read_command_line(static_cast<int>(tool_argv.size()) - 1,
                                                    tool_argv.data(), usage, cl);
        status >= 0) {
        return status;
    }
    if (const std::string reason = refused(options(), request); !reason.empty()) {
        emu_fail(PROGRAM, reason);
        return CLI_USAGE;
    }
    // The person reads the source again for every file: the target may not
    // be it, whatever its name.
    struct stat source_st {};
    struct stat target_st {};
    if (!cl.card.empty() && stat(request.source.c_str(), &source_st) == 0 &&
        stat(cl.card.c_str(), &target_st) == 0 && source_st.st_dev == target_st.st_dev &&
        source_st.st_ino == target_st.st_ino) {
        emu_fail(PROGRAM, cl.card + " is the source card: back it up into another image");
        return CLI_USAGE;
    }
    card_image source;
    card_layout layout;
    file_error failure;
    std::string reason;
    if (!card_load(request.source, source, failure)) {
        emu_fail(PROGRAM, failure.object + ": " + failure.reason);
        return CLI_USAGE;
    }
    if (!card_read_layout(source, layout, reason)) {
        emu_fail(PROGRAM, request.source + ": " + reason);
        return CLI_USAGE;
    }
    card_person person(card_files(source, layout), request, options());
    const int status = backup_run(cl, person, card_clock_ns);
    person.show_card();
    return status;
}
