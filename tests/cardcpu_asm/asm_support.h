// Helpers for the assembler's tests: assembling a text, and the errors as
// the one line each that a user would read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cardcpu/asm/assembler.h"

using asm_bytes = std::vector<std::uint8_t>;

/// Assembles `source` as the file "t.s", without -I folders.
inline vmu_asm_result assemble(const std::string& source) {
    return vmu_assemble_text(source, "t.s", {});
}

/// The errors, one "file:line: message" line each.
inline std::string error_lines(const vmu_asm_result& result) {
    std::string lines;
    for (const vmu_asm_error& error : result.errors) {
        lines += error.file + ":" + std::to_string(error.line) + ": " + error.message + "\n";
    }
    return lines;
}

/// The image's bytes from `pc` on; empty when the image ends before `pc`.
inline asm_bytes bytes_from(const asm_bytes& image, std::size_t pc) {
    return pc < image.size()
               ? asm_bytes(image.begin() + static_cast<std::ptrdiff_t>(pc), image.end())
               : asm_bytes{};
}

/// The image of `.word value`: its two bytes, low first.
inline asm_bytes word_image(std::uint16_t value) {
    return {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8)};
}
