// Running the built vmurx-card as a user runs it, in a scratch directory,
// on cards it formats itself and saves built from the layout: what the
// program-level card tests share.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "run_program.h"
#include "save_files.h"

inline const std::string CARD = VMURX_CARD_PATH;
inline constexpr std::uint8_t STAMP_2002[8] = {0x20, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x00};
inline constexpr long STAMP_2002_UTC = 1015218367;  // 2002-03-04 05:06:07 UTC

inline run_result run(const temp_dir& dir, const std::string& command_line,
                      const std::string& tz = "UTC") {
    std::vector<std::string> argv{CARD};
    std::istringstream in(command_line);
    for (std::string word; in >> word;)
        argv.push_back(word);
    return run_program(argv, {.cwd = dir.path(), .env = {"TZ=" + tz}, .unset = {}});
}

inline bytes read_bytes(const temp_dir& dir, const std::string& name) {
    return as_bytes(read_file(dir.file(name)));
}

inline void write_bytes(const temp_dir& dir, const std::string& name, const bytes& content) {
    write_file(dir.file(name), as_string(content));
}

inline struct stat stat_of(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st;
}

// A card of `name` holding the DCI files given as NAME=bytes.
inline void card_with(const temp_dir& dir, const std::string& card,
                      const std::vector<std::pair<std::string, bytes>>& files) {
    ASSERT_EQ(run(dir, "new " + card).status, 0);
    for (const auto& [name, content] : files) {
        write_bytes(dir, name + ".dci", make_dci(content, 0x33, name, STAMP_2002));
        const run_result r = run(dir, "add " + card + " " + name + ".dci");
        ASSERT_EQ(r.status, 0) << r.err;
    }
}
