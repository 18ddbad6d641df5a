// A file read to be changed and written back, held under an exclusive
// advisory lock (flock) from the read until the holder lets go, so that of
// two programs changing one file the second is refused while the first is at
// work, instead of both reading the same old bytes and the later write
// silently dropping the earlier one. What was read is kept: the writer
// (write_files_atomically) compares it with the file just before and just
// after the new one takes its place, and so also refuses to overwrite a change
// by a program that takes no lock, such as an emulator writing the file in
// place.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "files/file_error.h"

struct held_file {
    std::string path;
    std::vector<std::uint8_t> bytes;  // as read
    struct stat status {};            // the file's own, when read
    int fd = -1;                      // open on the file, holding its lock

    held_file() = default;
    held_file(held_file&& other) noexcept;
    held_file& operator=(held_file&& other) noexcept;
    held_file(const held_file&) = delete;
    held_file& operator=(const held_file&) = delete;
    ~held_file();  // closes the file, which lets go of the lock
};

/// Opens the regular file at `path` (following a symbolic link), takes its
/// lock without waiting and reads it, at most `limit` bytes. False with
/// file_failure::in_use while another program holds the lock, or as
/// read_file_bounded fails.
bool hold_file(const std::string& path, std::size_t limit, held_file& held, file_error& error);

/// Whether the held file still has the bytes read, and, with `at_path`,
/// whether it is still the file at its path. False with
/// file_failure::changed and the reason otherwise.
bool held_file_unchanged(const held_file& held, bool at_path, file_error& error);
