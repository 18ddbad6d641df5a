// Runs a built program as a user would: in its own process, with its standard
// output and error captured separately, and reports how it ended.
#pragma once

#include <string>
#include <vector>

struct run_options {
    std::string cwd;                 // empty: the test's own directory
    std::vector<std::string> env;    // "NAME=value" entries added to the environment
    std::vector<std::string> unset;  // names removed from the environment
    int timeout_s = 30;              // then the child and all it started are killed
};

struct run_result {
    int status = -1;  // exit status, or 128 + signal number
    std::string out;
    std::string err;
    bool timed_out = false;  // killed after run_options::timeout_s
};

run_result run_program(const std::vector<std::string>& argv, const run_options& options = {});

/// The words of `text` split at white space, as a shell splits a command
/// line without quotes.
std::vector<std::string> split_words(const std::string& text);

/// A fresh, empty directory under the system's temporary directory, removed
/// with its contents when the object goes away.
class temp_dir {
public:
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

/// The whole contents of a file; empty when it cannot be read.
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& contents);

/// What a path holds now: the contents of a regular file, else "absent",
/// "directory", "link" or "fifo".
std::string file_state(const std::string& path);
