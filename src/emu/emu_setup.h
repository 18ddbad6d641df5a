// The software card's second step: the options read (emu_options.cpp) name
// the file the card sends, a save or an entry of a whole card image, and
// the faults it shows; this reads those files and makes the card's frames.
// Apart from the option table, so that reading a command line never touches
// a file and a file's errors are told from a command line's.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "emu/emu_options.h"
#include "save/stamp.h"
#include "vmu/vmu_sim.h"

/// A fault of --fault, as given: never-ready is set on the card at once.
struct emu_fault {
    std::string kind;  // stall, wrong-code, bad-trailer, short or stop
    std::int64_t value;
};

/// What the options ask of the card's file, before any file is read.
struct emu_request {
    std::string source;           // --file or --card, whichever came last; empty: the sample save
    bool source_is_card = false;  // --card; a --file may still turn out a card image
    std::string entry;            // --entry: a name or #SLOT
    std::optional<std::string> name;  // --name, or the bytes of --raw-name
    bool raw_name = false;            // --raw-name: the bytes go as they are, whatever they are
    std::optional<std::uint8_t> type;
    std::optional<save_stamp>
        stamp;  // any fourteen digits: a test may send a date that does not exist
    std::vector<emu_fault> faults;
};

/// Reads what `request` names and sets up `vmu`'s frames, or with --cpu
/// passes the card image and entry on in `options.cpu`. False with a
/// one-line reason in `error` for a file that cannot be read or is no save
/// or card, an entry that is not there, or a fault the transfer cannot show.
bool emu_setup_card(const emu_request& request, vmu_sim& vmu, emu_options& options,
                    std::string& error);
