// What the tests of the sender on the processor model share: card images to
// run it on, and the card's screen read back as text through the sender's
// own font (found in the built image behind its mark), so that a test can
// say "DONE" where the screen shows it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "card/card_edit.h"
#include "cardcpu/cpu/cpu.h"
#include "vmu/cpu_card/sender_image.h"

namespace cpu_card_test {

/// A file for a test card: its name, type, size in blocks and stamp; its
/// bytes follow from the name so that no two files are alike.
struct test_file {
    std::string name;
    bool game = false;
    int blocks = 1;
    save_stamp stamp{2001, 2, 3, 4, 5, 6};
};

inline std::vector<std::uint8_t> content_of(const test_file& file) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(file.blocks) * 512);
    const auto seed = static_cast<unsigned>(file.name.size() * 37 + file.name[0]);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 131 + seed + i / 512) % 251);
    return bytes;
}

/// A blank card holding `files`, in that order.
inline card_image card_with(const std::vector<test_file>& files) {
    card_image card =
        card_new({255, 255, 255, 255}, 0, save_stamp{2020, 1, 1, 0, 0, 0}, card_order::raw);
    for (const test_file& file : files) {
        card_new_file added;
        added.name = file.name;
        added.game = file.game;
        added.stamp = file.stamp;
        added.content = content_of(file);
        std::size_t slot = 0;
        std::string reason;
        if (!card_add(card, added, slot, reason))
            throw std::runtime_error("test card: " + reason);
    }
    return card;
}

/// The screen as the sender writes on it: five lines of twelve cells of
/// 4 x 6 pixels, each read as the glyph of the sender's font it shows ('~'
/// for a cell that is no glyph), trailing blanks dropped, a newline after
/// each line.
template <typename Pixel>
std::string screen_text(Pixel pixel) {
    static const std::string mark = "VMURX FONT 3X5";
    const auto image = vmu_sender_image();
    const auto found = std::search(image.begin(), image.end(), mark.begin(), mark.end());
    const auto font = found + 16;  // the mark's field is 16 bytes
    std::string text;
    for (int line = 0; line < 5; ++line) {
        std::string chars;
        for (int cell = 0; cell < 12; ++cell) {
            int rows[5];
            for (int row = 0; row < 5; ++row) {
                rows[row] = 0;
                for (int x = 0; x < 4; ++x) {
                    if (pixel(cell * 4 + x, line * 6 + 1 + row))
                        rows[row] |= 0x80 >> x;
                }
            }
            char shown = '~';
            for (int glyph = 0; glyph < 64 && font + 4 * 64 + glyph < image.end(); ++glyph) {
                bool same = true;
                for (int row = 0; row < 5; ++row)
                    same = same && font[64 * row + glyph] == rows[row];
                if (same) {
                    shown = static_cast<char>(0x20 + glyph);
                    break;
                }
            }
            chars += shown;
        }
        chars.erase(chars.find_last_not_of(' ') + 1);
        text += chars + "\n";
    }
    return text;
}

inline std::string screen_text(const vmu_cpu& cpu) {
    return screen_text([&](int x, int y) { return vmu_cpu_lcd_pixel(cpu, x, y); });
}

/// The same, of the screen as vmurx-emu --screen prints it (32 lines of 48
/// '#' and '.'), found in `output` after anything before it.
inline std::string printed_screen_text(const std::string& output) {
    const std::size_t start = output.find("................................................\n");
    if (start == std::string::npos)
        return "(no screen)";
    return screen_text([&](int x, int y) {
        const std::size_t at =
            start + static_cast<std::size_t>(y) * 49 + static_cast<std::size_t>(x);
        return at < output.size() && output[at] == '#';
    });
}

}  // namespace cpu_card_test
