// The built-in sample save: a little picture of the card itself as its icon,
// and a payload whose bytes show their offsets, so a damaged transfer is easy
// to spot even without the CRC.
#include "save/sample_save.h"

#include <algorithm>
#include <cstdlib>
#include <span>

#include "save/save_header.h"

namespace {

// Palette indices of the icon.
enum : std::uint8_t { CLEAR, BLACK, WHITE, BODY, SCREEN, BUTTON };

constexpr std::uint16_t PALETTE[] = {
    0x0000,  // transparent
    0xF000,  // black
    0xFFFF,  // white
    0xF36B,  // the card's blue
    0xFBEB,  // the screen's pale green
    0xFF80,  // orange buttons
};

using icon_pixels = std::uint8_t[32][32];

void fill(icon_pixels& icon, int x0, int y0, int x1, int y1, std::uint8_t colour) {
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x)
            icon[y][x] = colour;
    }
}

// A filled rectangle with a black outline and cut corners.
void panel(icon_pixels& icon, int x0, int y0, int x1, int y1, std::uint8_t colour) {
    fill(icon, x0, y0, x1, y1, BLACK);
    fill(icon, x0 + 1, y0 + 1, x1 - 1, y1 - 1, colour);
    for (int corner = 0; corner < 4; ++corner)
        icon[corner < 2 ? y0 : y1][corner % 2 ? x1 : x0] = CLEAR;
}

void draw_card(icon_pixels& icon) {
    panel(icon, 5, 1, 26, 30, BODY);
    panel(icon, 8, 4, 23, 14, SCREEN);
    // A "v" on the screen.
    for (int i = 0; i < 5; ++i) {
        icon[6 + i][12 + i / 2 + i % 2] = BLACK;
        icon[6 + i][19 - i / 2 - i % 2] = BLACK;
    }
    // The direction pad and two buttons.
    fill(icon, 10, 18, 12, 26, BLACK);
    fill(icon, 7, 21, 15, 23, BLACK);
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            if (std::abs(x - 19) * std::abs(x - 19) + (y - 24) * (y - 24) <= 3 ||
                std::abs(x - 23) * std::abs(x - 23) + (y - 20) * (y - 20) <= 3) {
                icon[y][x] = BUTTON;
            }
        }
    }
}

// A text field of the header, zero-padded.
void put_text(std::span<std::uint8_t> field, const char* text) {
    std::fill(field.begin(), field.end(), 0);
    for (std::size_t i = 0; text[i] != '\0' && i < field.size(); ++i)
        field[i] = static_cast<std::uint8_t>(text[i]);
}

}  // namespace

std::vector<std::uint8_t> sample_save() {
    std::vector<std::uint8_t> file(2 * IMAGE_BLOCK_SIZE, 0);
    save_header header;
    put_text(header.description, "VMURX DEMO");
    put_text(header.boot_description, "vmurx sample save");
    put_text(header.application, "VMURX");
    header.icon_count = 1;
    header.icon_speed = 10;
    header.eyecatch_type = 0;  // none
    const std::size_t payload_at = header_extent(header);
    header.payload_length = static_cast<std::uint32_t>(file.size() - payload_at);
    std::copy(std::begin(PALETTE), std::end(PALETTE), header.palette.begin());

    icon_pixels icon{};
    draw_card(icon);
    for (std::size_t y = 0; y < 32; ++y) {
        for (std::size_t x = 0; x < 32; x += 2) {
            file[SAVE_HEADER_SIZE + 16 * y + x / 2] =
                static_cast<std::uint8_t>(icon[y][x] << 4 | icon[y][x + 1]);
        }
    }

    const char title[] = "vmurx demo save: a sample file from the software VMU.\n";
    for (std::size_t i = payload_at; i < file.size(); ++i) {
        const std::size_t at = i - payload_at;
        file[i] = at < sizeof title - 1 ? static_cast<std::uint8_t>(title[at])
                                        : static_cast<std::uint8_t>(i & 0xFF);
    }
    // The CRC covers the header with its own field counted as zero.
    write_save_header(file, 0, header);
    header.crc = data_file_crc(file, file.size());
    write_save_header(file, 0, header);
    return file;
}
