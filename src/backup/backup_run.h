// The run of vmurx-backup: file after file from the card's Copy into one
// target, with the person at the card told what to do between two files
// (D3 low while they choose the next file and take Copy; when the card asks
// "Copy ?" they press Enter here, D3 rises, and they press A on the card),
// a progress line per file on a terminal, a line per stored file and a
// summary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "backup/backup_options.h"
#include "backup/backup_receive.h"
#include "clock/monotonic_clock.h"

/// The time of the card's pace, in nanoseconds from any start: the
/// machine's clock, or a counting software card's own time.
using backup_clock = std::int64_t (*)();

/// The person at the card, between two files and while one arrives.
struct backup_person {
    virtual ~backup_person() = default;
    /// D3 is low. True once the person has chosen the next file and the
    /// card asks "Copy ?"; false to end the run. A file the person had to
    /// pass over (one the card will not copy) is a line in `skipped`.
    virtual bool next(std::vector<std::string>& skipped) = 0;
    /// D3 has risen: now A on the card.
    virtual void go() = 0;
    /// After each frame of the file, counted from 1.
    virtual void frame_done(std::size_t) {}
};

/// The person at a terminal: the prompts on `err`, Enter read from standard
/// input, which ends the run at its end or on Ctrl-C.
std::unique_ptr<backup_person> backup_terminal_person(std::FILE* err = stderr);

/// Where a run writes.
struct backup_streams {
    std::FILE* out = stdout;  // a line per stored file, the summary
    std::FILE* err = stderr;  // prompts, the progress line, refusals and failures
};

/// Runs the backup that `cl` asks for with `person` at the card. Returns 0
/// when every file begun was stored, 1 when one was refused, failed or
/// skipped, or the run could not go on.
int backup_run(const backup_command_line& cl, backup_person& person,
               backup_clock clock = monotonic_ns, backup_streams streams = {});

/// vmurx-backup's entry function, for each program that links the backup
/// library with one backend: reads the command line (`usage` is its help)
/// and runs it with `person` (null: the person at the terminal). Returns
/// the exit status: backup_run's, or 2 for a wrong command line.
int backup_main(int argc, char* argv[], const std::string& usage, backup_person* person = nullptr,
                backup_clock clock = monotonic_ns);

/// The progress line after frame `frame` of a file `name` of `blocks`
/// blocks: "NAME: block 3 of 12, about 36 s left", at the card's pace of
/// half a second a frame (4 s a block).
std::string backup_progress_line(const std::string& name, std::size_t blocks, std::size_t frame);
