// Where the assembler's files come from: reading them, finding an included
// file, and the register names built into the assembler.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

/// The text of sfr.i, which the build generates from the model's register
/// list (cardcpu/cpu/sfr.h) and compiles into the library.
extern const std::string_view vmu_asm_builtin_sfr;

/// The name under which the built-in register file is included.
inline constexpr std::string_view vmu_asm_builtin_sfr_name = "sfr.i";

/// The whole file at `path` when it has at most `limit` bytes; else nothing
/// with `error` set to the system's reason, or for a larger file to "larger
/// than LIMIT bytes" and `what_limit` after it (", the whole program space").
std::optional<std::string> vmu_asm_read_file(const std::string& path, std::size_t limit,
                                             const char* what_limit, std::string& error);

/// The path of the file an `.include "name"` in `including_file` means: an
/// absolute name as it is, else the first that exists of the folder of
/// `including_file` and each of `include_dirs`. Nothing when none exists.
std::optional<std::string> vmu_asm_find_include(const std::string& name,
                                                const std::string& including_file,
                                                const std::vector<std::string>& include_dirs);

/// `path` made absolute and free of "." and "..", to tell whether two names
/// mean the same file.
std::string vmu_asm_canonical(const std::string& path);
