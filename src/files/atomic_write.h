// Writing results without ever damaging what is there: several files are put
// in place all together or not at all, an existing file is only ever replaced
// whole (through a temporary file in its directory, renamed over it), and
// nothing but a regular file is replaced.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "files/file_error.h"

/// One file to write: where, what, and the modification (and access) time to
/// give it, if any.
struct file_to_write {
    std::string path;
    std::vector<std::uint8_t> bytes;
    std::optional<std::time_t> mtime;
};

/// Writes every file or none. Every target is checked first; then each file
/// is written to a temporary file of a short name in its directory, and only
/// when all are written are they renamed into place. A file being replaced
/// stays reachable under another name until every new file is in place, and
/// comes back on any failure. Without `replace` no existing name is taken
/// (file_failure::exists, "File exists"). With it, an existing regular file
/// is replaced, keeping its mode and, where permitted, its owner; anything
/// else existing (a directory, a device, a FIFO, a symbolic link) is refused
/// and left as it is (file_failure::not_regular). A path named twice is
/// refused as well, and a file that someone else replaced while the new one
/// was written is left as they left it (file_failure::changed). The error's
/// object is the path as given: escape it before it reaches a terminal.
bool write_files_atomically(const std::vector<file_to_write>& files, bool replace,
                            file_error& error);

/// Stand-ins through which a test reaches what a machine seldom does. Empty
/// members leave the real calls; nothing but a test sets them.
struct atomic_write_hooks {
    /// Instead of renameat2(AT_FDCWD, from, AT_FDCWD, to, flags), with its
    /// result and errno: failing with EINVAL shows a file system without the
    /// one-step exchange and no-replace renames.
    std::function<int(const char* from, const char* to, unsigned flags)> rename2;
    /// Runs when every new file is written, just before the first takes its
    /// name: where another writer may step in.
    std::function<void()> before_placing;
};

atomic_write_hooks& atomic_write_test_hooks();
