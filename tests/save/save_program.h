// Running the built vmurx-save on files in a scratch directory, for the
// program-level tests.
#pragma once

#include <string>

#include "run_program.h"
#include "save_files.h"

/// vmurx-save with `command_line` split at spaces, in `dir`, with TZ set.
run_result run_save(const temp_dir& dir, const std::string& command_line,
                    const std::string& tz = "UTC");

void write_bytes(const temp_dir& dir, const std::string& name, const bytes& content);
bytes read_bytes(const temp_dir& dir, const std::string& name);

/// The file's modification time, or -1 when there is none.
long mtime_of(const std::string& path);
