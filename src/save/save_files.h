// Saves on disk: reading a file in any of the formats by its extension, with
// what its descriptor, name and modification time tell, and writing results
// so that a failure never leaves a half-written file.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "files/file_error.h"
#include "files/input_files.h"
#include "save/containers.h"
#include "save/save_header.h"

enum class file_format { bytes, vms, vmi, dci };

/// The format a path names by its extension, in any letter case.
file_format format_of(const std::string& path);

/// A save as read, with whatever is known about it besides its bytes.
struct save_input {
    std::string format;      // "vms" (the card's bytes, with or without a VMI) or "dci"
    std::string descriptor;  // the VMI used, if any
    std::vector<std::uint8_t> content;
    std::optional<std::string> name;  // the card's name
    std::string long_name;            // the file's own name, when too long for a card name
    std::optional<save_stamp> stamp;
    std::optional<save_kind> kind;  // from the descriptor
    std::optional<bool> protect;
    std::vector<std::string> problems;
    std::vector<std::string> files_read;  // every file read: the save, its companion
};

/// Reads `path` and, for a .vms or .vmi, its companion. The content of a card
/// file is at most 255 blocks; no more than that (plus one byte to tell) is
/// ever read.
bool load_save(const std::string& path, save_input& input, file_error& error);

struct output_file {
    std::string path;
    std::vector<std::uint8_t> bytes;
    std::optional<save_stamp> stamp;  // its modification time, if any
};

/// Writes all files or none, through write_files_atomically: without `force`
/// no file that exists is replaced, with it only regular files are, and
/// never one of `inputs`.
bool write_outputs(const std::vector<output_file>& files, bool force, file_error& error,
                   const input_files* inputs = nullptr);
