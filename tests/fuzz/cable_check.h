// The rules every run of the cable fuzz target must keep, and the run's
// surroundings: the scratch directory, what stands in the way of the output,
// the process's descriptors. A broken rule aborts with a message, so that
// libFuzzer keeps the input.
#pragma once

#include <filesystem>
#include <set>
#include <string>

#include "cable_case.h"

namespace cable_fuzz {

namespace fs = std::filesystem;

/// Holds "run" and, for a link, the file outside it.
extern fs::path root;
/// Where a broken rule is reported: standard error as it was before the
/// tool's output went to /dev/null.
extern int report_fd;

/// Reports `rule` as broken and aborts.
[[noreturn]] void broken(const std::string& rule);

/// The process's open descriptors.
std::set<int> open_descriptors();

/// Puts what stands in the way of `name` into the run directory.
void place(obstacle kind, const fs::path& run, const std::string& name);

/// Checks what the tool did with case `c`, ending with `status`, in `run`,
/// where `blocker` (if not empty) stood in the way, against the rules listed
/// at the top of cable_fuzz.cpp.
void check_run(const cable_case& c, int status, const fs::path& run, const std::string& blocker);

}  // namespace cable_fuzz
