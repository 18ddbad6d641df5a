// The files a run reads, known by device and inode, so that none of its
// outputs replaces one. "./x", "../dir/x", an absolute path, a hard link or
// a symbolic link all name the same file in ways that no comparison of names
// tells apart; the file system's own identity does.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

/// A file as the file system knows it.
struct file_identity {
    dev_t device = 0;
    ino_t inode = 0;
    friend bool operator==(const file_identity&, const file_identity&) = default;
};

/// The inputs of a run, each with the name it was read by.
struct input_files {
    std::vector<file_identity> identities;
    std::vector<std::string> names;
};

/// Notes the file `path` names (following symbolic links) as an input. A
/// name that names no file is left out: there is nothing to overwrite.
void add_input(input_files& inputs, const std::string& path);

/// The name of the input that is the file `identity`, or null for none.
const std::string* input_named(const input_files& inputs, const file_identity& identity);
