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
    changed,      // someone else replaced the file while the new one was written
    content,      // what the file holds, in the words of whoever read it
};

struct file_error {
    std::string object;  // the file concerned, as given
    std::string reason;
    file_failure cause = file_failure::system;
};
