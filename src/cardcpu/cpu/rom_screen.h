// The screen as text, read with the system ROM's own font: the ROM draws
// its menus' text in a grid of 8 columns by 4 lines of 6 x 8 pixels, from a
// font in its own image. A program that plays the person at the card reads
// the screen so, with the font taken from the user's image at run time.
#pragma once

#include <array>
#include <string>

#include "cardcpu/cpu/cpu.h"

inline constexpr int VMU_TEXT_COLUMNS = 8;
inline constexpr int VMU_TEXT_LINES = 4;

/// The screen's four lines of eight characters. A cell that shows a
/// character of the font reads as it (printable ASCII, or '?' for another
/// code); a blank cell as ' '; a cell that shows none of them (a picture, a
/// large digit) as '#'. `inverted` marks the cells drawn light on dark, as
/// the ROM shows a choice, by 'x' in the same places ('.' elsewhere).
/// Without a ROM loaded every cell that is not blank reads '#'.
struct vmu_screen_text {
    std::array<std::string, VMU_TEXT_LINES> lines;
    std::array<std::string, VMU_TEXT_LINES> inverted;
};

vmu_screen_text vmu_rom_screen_text(const vmu_cpu& cpu);
