// The numbers and hexadecimal bytes of option values: digits only, checked
// for overflow, so that " 5", "+5", "5x" or a number too large for its
// option is refused rather than read as something else.
#include <limits>
#include <utility>

#include "cli/cli.h"

namespace {

// The value of a digit in `base` (10 or 16), or `base` for no such digit.
unsigned digit_value(char c, unsigned base) {
    if (c >= '0' && c <= '9')
        return static_cast<unsigned>(c - '0');
    if (base == 16 && c >= 'a' && c <= 'f')
        return static_cast<unsigned>(c - 'a' + 10);
    if (base == 16 && c >= 'A' && c <= 'F')
        return static_cast<unsigned>(c - 'A' + 10);
    return base;
}

}  // namespace

bool cli_parse_uint(std::string_view text, std::uint64_t minimum, std::uint64_t maximum,
                    std::uint64_t& value) {
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return false;
    constexpr std::uint64_t LARGEST = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t number = 0;
    for (const char c : text) {
        const unsigned digit = digit_value(c, base);
        if (digit >= base || number > (LARGEST - digit) / base)
            return false;
        number = number * base + digit;
    }
    if (number < minimum || number > maximum)
        return false;
    value = number;
    return true;
}

bool cli_parse_hex_bytes(std::string_view text, std::size_t count,
                         std::vector<std::uint8_t>& bytes) {
    if (text.size() != 2 * count)
        return false;
    std::vector<std::uint8_t> read;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const unsigned high = digit_value(text[i], 16);
        const unsigned low = digit_value(text[i + 1], 16);
        if (high >= 16 || low >= 16)
            return false;
        read.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    bytes = std::move(read);
    return true;
}
