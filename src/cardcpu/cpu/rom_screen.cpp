// Reading the screen's text cells against the ROM's font: row r of the
// glyph for code c is the ROM's byte at FONT + r x 256 + c, its bits 7 to
// 2 the cell's six pixels from the left (where the ROM's own drawing
// routine takes them). Codes are matched from 0x20 up, so that a cell
// reads as the first printable code that draws it.
#include "cardcpu/cpu/rom_screen.h"

namespace {

constexpr unsigned FONT = 0xE800;
constexpr int CELL_WIDTH = 6;
constexpr int CELL_HEIGHT = 8;
constexpr unsigned CELL_MASK = 0x3F;

using cell_rows = std::array<unsigned, CELL_HEIGHT>;

cell_rows read_cell(const vmu_cpu& cpu, int column, int line) {
    cell_rows rows{};
    for (int r = 0; r < CELL_HEIGHT; ++r) {
        unsigned bits = 0;
        for (int x = 0; x < CELL_WIDTH; ++x) {
            const bool dark =
                vmu_cpu_lcd_pixel(cpu, column * CELL_WIDTH + x, line * CELL_HEIGHT + r);
            bits = (bits << 1) | (dark ? 1U : 0U);
        }
        rows[static_cast<std::size_t>(r)] = bits;
    }
    return rows;
}

// The code whose glyph the cell shows, plain or inverted; -1 for none. The
// printable codes come first: a blank glyph may stand at a control code
// too.
int match(const vmu_cpu& cpu, const cell_rows& rows, unsigned invert) {
    for (unsigned n = 0; n < 256; ++n) {
        const unsigned code = (n + 0x20) & 0xFF;
        bool same = true;
        for (unsigned r = 0; r < CELL_HEIGHT && same; ++r) {
            const unsigned glyph = (cpu.rom[FONT + r * 256 + code] >> 2) & CELL_MASK;
            same = (glyph ^ invert) == rows[r];
        }
        if (same) {
            return static_cast<int>(code);
        }
    }
    return -1;
}

char shown(int code) {
    return code >= 0x20 && code < 0x7F ? static_cast<char>(code) : '?';
}

}  // namespace

vmu_screen_text vmu_rom_screen_text(const vmu_cpu& cpu) {
    vmu_screen_text text;
    for (int line = 0; line < VMU_TEXT_LINES; ++line) {
        std::string& characters = text.lines[static_cast<std::size_t>(line)];
        std::string& inverted = text.inverted[static_cast<std::size_t>(line)];
        for (int column = 0; column < VMU_TEXT_COLUMNS; ++column) {
            const cell_rows rows = read_cell(cpu, column, line);
            bool blank = true;
            for (const unsigned row : rows) {
                blank = blank && row == 0;
            }
            char c = blank ? ' ' : '#';
            char mark = '.';
            if (!blank && !cpu.rom.empty()) {
                if (const int code = match(cpu, rows, 0); code >= 0) {
                    c = shown(code);
                } else if (const int inverse = match(cpu, rows, CELL_MASK); inverse >= 0) {
                    c = shown(inverse);
                    mark = 'x';
                }
            }
            characters += c;
            inverted += mark;
        }
    }
    return text;
}
