// The card processor's two-pass assembler: source text in the dialect card
// programs are written in, out a program image that starts at address 0.
// Pass 1 reads every line (and every included file), fixes each statement's
// size from its syntax and gives every label its address; pass 2 evaluates
// the operands and writes the bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

/// One fault in the source, printed as "file:line: message". `line` is 0 when
/// the fault concerns the file as a whole (it could not be read).
struct vmu_asm_error {
    std::string file;
    int line = 0;
    std::string message;
};

/// The program image, from address 0 to the last byte written, with every
/// byte never written 0; empty whenever `errors` is not.
struct vmu_asm_result {
    std::vector<std::uint8_t> image;
    std::vector<vmu_asm_error> errors;
    /// Every file read from disk: the source, the included files, the
    /// files included as bytes. A program keeps its output off them.
    std::vector<std::string> files_read = {};
};

/// Assembles the file at `path`. `.include` looks for a file relative to the
/// including file first, then in each of `include_dirs` in order; "sfr.i"
/// is found built in when no file of that name is.
vmu_asm_result vmu_assemble_file(const std::string& path,
                                 const std::vector<std::string>& include_dirs);

/// Assembles `source` as though it were the file `name`: errors carry that
/// name, and relative includes start from its folder.
vmu_asm_result vmu_assemble_text(std::string_view source, const std::string& name,
                                 const std::vector<std::string>& include_dirs);
