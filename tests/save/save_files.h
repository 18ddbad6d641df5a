// Saves built byte by byte for the tests, straight from the file layout, so
// the code under test never builds its own expectations.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using bytes = std::vector<std::uint8_t>;

struct test_save {
    std::string description = "TEST SAVE";
    std::string boot_description = "a save for the tests";
    std::string application = "TESTAPP";
    int icons = 1;
    int eyecatch = 0;
    std::size_t payload = 100;
    bool game = false;  // header at 0x200 after a block of program bytes
};

void put16(bytes& b, std::size_t at, unsigned value);

/// A save as on the card, padded to whole blocks; a data file gets its CRC
/// (computed here over the header with the CRC bytes zero).
bytes make_save(const test_save& s);

/// The CRC of a data file's header and contents, computed independently.
unsigned expected_crc(const bytes& file, std::size_t range);

/// A DCI of `content` built from the layout: entry, then every four bytes
/// reversed.
bytes make_dci(const bytes& content, std::uint8_t type, const std::string& name,
               const std::uint8_t (&bcd_stamp)[8]);

std::string as_string(const bytes& b);
bytes as_bytes(const std::string& s);
