// One file from the card's Copy, through the core's byte exchange and block
// reception: the ready signal, the start frame, the name frame, a data and a
// flash frame for each 128 bytes, the directory frame and the last flash
// frame, in the tool's order and with its answers. Unlike the tool, it keeps
// the file in memory, asks the target about its size and name before it
// answers those frames (so that a refusal shows on the card's screen as the
// card's own), and never ends the process.
#pragma once

#include <csignal>
#include <cstddef>
#include <string>

#include "backup/backup_target.h"
#include "lpt/lpt.h"

/// Set by SIGINT, SIGTERM, SIGHUP or SIGQUIT while a backup runs: the file
/// in progress stops after its frame, and the run ends.
extern volatile std::sig_atomic_t backup_interrupted;

enum class backup_end {
    arrived,      // every frame taken: `file` is whole
    no_ready,     // the card never signalled ready
    refused,      // the target would not take it: the card was answered 0x0A
    failed,       // a frame failed
    interrupted,  // stopped by a signal
};

/// How one file ended, and what is known of it.
struct backup_outcome {
    backup_end end = backup_end::failed;
    backup_file file;
    std::size_t frames = 0;  // the frames taken, as vmurx-emu --fault counts them
    std::string reason;      // what went wrong, in words
    std::string remedy;      // for a refusal: what the user can do
    bool named = false;      // the name frame came: file.name holds the card's name
};

/// What the run is told while the file arrives.
struct backup_watch {
    virtual ~backup_watch() = default;
    /// After each frame taken, counted from 1.
    virtual void frame_done(const backup_file& file, std::size_t frame) = 0;
};

/// The ready signal waits this many units of status reads in all.
inline constexpr int BACKUP_READY_UNITS = 10;

/// Receives one file on a port that lpt_open has opened (D3 high) and
/// leaves it open.
backup_outcome backup_receive(lpt_port& port, backup_target& target, backup_watch& watch);

/// How frame `frame` (from 1) of a file of `pieces` 128-byte pieces is
/// named: "the start frame", "the name frame", "data frame 3 of 8", "flash
/// frame 3 of 8", "the directory frame", "the last frame".
std::string backup_frame_words(std::size_t frame, std::size_t pieces);
