// Test saves built from the layout.
#include "save_files.h"

#include <algorithm>

void put16(bytes& b, std::size_t at, unsigned value) {
    b[at] = static_cast<std::uint8_t>(value);
    b[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

unsigned expected_crc(const bytes& file, std::size_t range) {
    unsigned crc = 0;
    for (std::size_t i = 0; i < range; ++i) {
        const unsigned byte = i == 0x46 || i == 0x47 ? 0 : file[i];
        crc ^= byte << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1) & 0xFFFF;
    }
    return crc;
}

bytes make_save(const test_save& s) {
    static const std::size_t eyecatch_sizes[] = {0, 8064, 4544, 2048};
    const std::size_t at = s.game ? 0x200 : 0;
    const std::size_t range =
        0x80 + 512 * static_cast<std::size_t>(s.icons) + eyecatch_sizes[s.eyecatch] + s.payload;
    bytes file((at + range + 511) / 512 * 512, 0);
    for (std::size_t i = 0; i < at; ++i)
        file[i] = static_cast<std::uint8_t>(0xA5 ^ i);
    std::copy(s.description.begin(), s.description.end(), file.begin() + at);
    std::copy(s.boot_description.begin(), s.boot_description.end(), file.begin() + at + 0x10);
    std::copy(s.application.begin(), s.application.end(), file.begin() + at + 0x30);
    put16(file, at + 0x40, static_cast<unsigned>(s.icons));
    put16(file, at + 0x42, 8);
    put16(file, at + 0x44, static_cast<unsigned>(s.eyecatch));
    const std::size_t payload = s.game ? 0 : s.payload;
    put16(file, at + 0x48, static_cast<unsigned>(payload));
    put16(file, at + 0x4A, static_cast<unsigned>(payload >> 16));
    // Palette: 0 transparent, 1 opaque red, 2 half-transparent blue.
    put16(file, at + 0x60 + 2, 0xFF00);
    put16(file, at + 0x60 + 4, 0x800F);
    // Icon frame k: the left pixel of each pair colour 1, the right colour 2,
    // except frame 2's first row, which is all colour 0.
    for (int k = 0; k < s.icons; ++k) {
        const std::size_t icon = at + 0x80 + 512 * static_cast<std::size_t>(k);
        std::fill(file.begin() + static_cast<std::ptrdiff_t>(icon),
                  file.begin() + static_cast<std::ptrdiff_t>(icon + 512), 0x12);
        if (k == 1)
            std::fill_n(file.begin() + static_cast<std::ptrdiff_t>(icon), 16, 0x00);
    }
    for (std::size_t i = at + range - s.payload; i < at + range; ++i)
        file[i] = static_cast<std::uint8_t>(i * 7);
    if (!s.game)
        put16(file, 0x46, expected_crc(file, range));
    return file;
}

bytes make_dci(const bytes& content, std::uint8_t type, const std::string& name,
               const std::uint8_t (&bcd_stamp)[8]) {
    bytes dci(32, 0);
    dci[0] = type;
    std::copy(name.begin(), name.end(), dci.begin() + 4);
    std::copy(bcd_stamp, bcd_stamp + 8, dci.begin() + 0x10);
    put16(dci, 0x18, static_cast<unsigned>((content.size() + 511) / 512));
    put16(dci, 0x1A, type == 0xCC ? 1 : 0);
    bytes body = content;
    body.resize((body.size() + 511) / 512 * 512, 0);
    for (std::size_t i = 0; i < body.size(); i += 4)
        dci.insert(dci.end(), {body[i + 3], body[i + 2], body[i + 1], body[i]});
    return dci;
}

std::string as_string(const bytes& b) {
    return std::string(b.begin(), b.end());
}

bytes as_bytes(const std::string& s) {
    return bytes(s.begin(), s.end());
}
