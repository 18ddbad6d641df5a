// Why something could not be done to a file, in a form both a person and a
// program can use: the file, the reason in words, and the kind of failure.
// The words name no command-line option; a program that has one that helps
// (--force over an existing file) adds it to its own message.
#pragma once

#include <string>

enum class file_failure {
    system,       // the system refused; `reason` is its text
    too_large,    // longer than a bounded read takes
    exists,       // the writer met an existing name it was not asked to replace
    not_regular,  // something other than a regular file stands where one is to go
    named_twice,  // one write named a path twice
    changed,      // someone else changed or replaced the file since it was read
    content,      // what the file holds, in the words of whoever read it
    is_input,     // the output would replace a file the run reads
    in_use,       // another program holds the file's lock
    read_only,    // the file has no write permission for this user
    linked,       // the file has other names (hard links) a replacement would part from it
};

struct file_error {
    std::string object;  // the file concerned, as given
    std::string reason;
    file_failure cause = file_failure::system;
    // Where an old file is kept, under another name, when it could not be
    // put back after a failed replacement; empty when every file is as it was.
    std::string kept_as = {};
};
