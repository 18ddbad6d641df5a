// The steps of write_files_atomically that put a written temporary file in
// its place, shared by its two files: the target as found before anything is
// written, the renames (or the test's stand-ins for them), and placing a new
// file where nothing was or over an old one. Nothing outside src/files/
// includes this.
#pragma once

#include <sys/stat.h>

#include <string>

#include "files/held_file.h"

struct write_target {
    std::string dir;  // its directory with the trailing slash, or "" for the current one
    bool exists = false;
    struct stat old {};  // what is there, when it exists
    std::string temp;    // the new file; once placed over an old one, the old one
    bool placed = false;
    bool changed = false;  // place_over found the old file changed or replaced meanwhile
    const held_file* held = nullptr;
};

/// renameat2, rename and link, or the test's stand-ins for them.
int call_rename2(const char* from, const char* to, unsigned flags);
int call_rename(const char* from, const char* to);
int call_link(const char* from, const char* to);
/// The exclusive create of a new file, or the test's stand-in for it.
int call_create(const char* name);

/// Creates an empty file of a short, unused name in `dir`: `prefix` and six
/// letters. Returns its descriptor, or -1 with errno set.
int create_unique(const std::string& dir, const std::string& prefix, std::string& name);

/// Puts the temporary file where nothing was: fails if anything appeared
/// meanwhile. False with errno set.
bool place_new(const write_target& t, const std::string& path);

/// Puts the temporary file over the old one, which then lives on under
/// t.temp. False with errno set; with t.changed when the old file is no
/// longer the one checked or no longer holds what was read: then it is left
/// as it is, or, should it not go back, its name is `kept_as`.
bool place_over(write_target& t, const std::string& path, std::string& kept_as);
