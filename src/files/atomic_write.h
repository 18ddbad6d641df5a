// Writing results without ever damaging what is there: several files are put
// in place all together or not at all, an existing file is only ever replaced
// whole (through a temporary file in its directory, renamed over it), nothing
// but a regular file is replaced, no file the run reads is written over, and
// a file read to be changed is not replaced when another program changed it
// meanwhile.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "files/file_error.h"
#include "files/held_file.h"
#include "files/input_files.h"

/// One file to write: where, what, and the modification (and access) time to
/// give it, if any.
struct file_to_write {
    std::string path;
    std::vector<std::uint8_t> bytes;
    std::optional<std::time_t> mtime;
    /// The file at `path` as read to be changed (hold_file): the write is
    /// refused (file_failure::changed) unless the file there is still that
    /// file with those bytes, checked before and after the new one takes the
    /// name.
    const held_file* held = nullptr;
};

/// Writes every file or none. Every target is checked first; then each file
/// is written to a temporary file of a short name in its directory, and only
/// when all are written are they renamed into place. A file being replaced
/// stays reachable under another name until every new file is in place, and
/// comes back on any failure. Without `replace` no existing name is taken
/// (file_failure::exists, "File exists"). With it, an existing regular file
/// is replaced, keeping its mode and, where permitted, its owner; anything
/// else existing (a directory, a device, a FIFO, a symbolic link) is refused
/// and left as it is (file_failure::not_regular). A file among `inputs` is
/// never replaced, whatever name reaches it (file_failure::is_input). A path
/// named twice is refused as well, and a file that someone else replaced or
/// changed while the new one was written is left as they left it
/// (file_failure::changed).
///
/// Where the file system cannot exchange two names in one step, the old file
/// is first linked, or else copied, to a visible name beside it
/// ("NAME.vmurx-old-XXXXXX"), and the new file is renamed over the name: the
/// name always holds the old file or the new one. If an old file cannot be
/// put back after a failure, the error says where it is (`kept_as`). Where
/// it has neither the no-replace rename nor hard links, a new file claims
/// its name by an exclusive create and is renamed over that empty claim.
/// A signal that would end the process while the temporary files are
/// written (SIGINT, SIGTERM, SIGHUP, SIGQUIT and the others that end it by
/// default, faults aside) removes them before the process ends, from the
/// moment each is created; while the files take their names, the signals,
/// whichever thread of the process they reach, wait until all are in place
/// or back. The error's object is the path as given: escape it before it
/// reaches a terminal.
bool write_files_atomically(const std::vector<file_to_write>& files, bool replace,
                            file_error& error, const input_files* inputs = nullptr);

/// Stand-ins through which a test reaches what a machine seldom does. Empty
/// members leave the real calls; nothing but a test sets them.
struct atomic_write_hooks {
    /// Instead of renameat2(AT_FDCWD, from, AT_FDCWD, to, flags), with its
    /// result and errno: failing with EINVAL shows a file system without the
    /// one-step exchange and no-replace renames.
    std::function<int(const char* from, const char* to, unsigned flags)> rename2;
    /// Instead of rename(from, to) and link(from, to), likewise.
    std::function<int(const char* from, const char* to)> rename;
    std::function<int(const char* from, const char* to)> link;
    /// Instead of open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666),
    /// which creates each new file of the write, likewise.
    std::function<int(const char* name)> create;
    /// Runs when every new file is written, just before the first takes its
    /// name: where another writer may step in.
    std::function<void()> before_placing;
};

atomic_write_hooks& atomic_write_test_hooks();
