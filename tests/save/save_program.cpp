// Running the built vmurx-save for the program-level tests.
#include "save_program.h"

#include <sys/stat.h>

#include <sstream>
#include <vector>

run_result run_save(const temp_dir& dir, const std::string& command_line, const std::string& tz) {
    std::vector<std::string> argv{VMURX_SAVE_PATH};
    std::istringstream in(command_line);
    for (std::string word; in >> word;)
        argv.push_back(word);
    return run_program(argv,
                       {.cwd = dir.path(), .env = {"TZ=" + tz, "VMURX_DELAY_US=0"}, .unset = {}});
}

void write_bytes(const temp_dir& dir, const std::string& name, const bytes& content) {
    write_file(dir.file(name), as_string(content));
}

bytes read_bytes(const temp_dir& dir, const std::string& name) {
    return as_bytes(read_file(dir.file(name)));
}

std::string file_state(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return "absent";
    if (S_ISDIR(st.st_mode))
        return "directory";
    if (S_ISLNK(st.st_mode))
        return "link";
    if (S_ISFIFO(st.st_mode))
        return "fifo";
    return read_file(path);
}

long mtime_of(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mtime : -1;
}
