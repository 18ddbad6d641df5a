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

long mtime_of(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mtime : -1;
}
