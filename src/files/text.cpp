// Text decoding, checking and quoting.
#include "files/text.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

const char REPLACEMENT[] = "\xEF\xBF\xBD";  // U+FFFD

// Length of the valid UTF-8 sequence at `at`, or 0.
std::size_t utf8_sequence(const std::string& s, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(at);
    std::size_t length;
    unsigned minimum;
    unsigned code;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80, code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800, code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000, code = lead & 0x07;
    } else {
        return 0;
    }
    if (s.size() - at < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (byte(at + i) & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

// Walks the UTF-8 text, handing each valid character (or U+FFFD for an invalid
// byte) to `emit`.
template <typename Emit>
void each_character(const std::string& utf8, Emit emit) {
    for (std::size_t at = 0; at < utf8.size();) {
        const std::size_t length = utf8_sequence(utf8, at);
        if (length == 0) {
            emit(std::string(REPLACEMENT));
            ++at;
        } else {
            emit(utf8.substr(at, length));
            at += length;
        }
    }
}

}  // namespace

std::string sjis_to_utf8(std::span<const std::uint8_t> text) {
    std::size_t length =
        static_cast<std::size_t>(std::find(text.begin(), text.end(), 0) - text.begin());
    while (length > 0 && text[length - 1] == ' ')
        --length;
    std::string out;
    if (length == 0)
        return out;

    iconv_t converter = iconv_open("UTF-8", "CP932");
    // NOLINTNEXTLINE(performance-no-int-to-ptr): iconv_open's documented failure value
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        // Without the converter only ASCII is certain.
        for (std::size_t i = 0; i < length; ++i)
            out += text[i] < 0x80 ? std::string(1, static_cast<char>(text[i])) : REPLACEMENT;
        return out;
    }
    std::vector<char> input(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length));
    char* in = input.data();
    std::size_t in_left = input.size();
    char buffer[256];
    while (in_left > 0) {
        char* next = buffer;
        std::size_t out_left = sizeof buffer;
        const std::size_t done = iconv(converter, &in, &in_left, &next, &out_left);
        out.append(buffer, static_cast<std::size_t>(next - buffer));
        if (done != static_cast<std::size_t>(-1) || errno == E2BIG)
            continue;
        // EILSEQ or EINVAL (a lead byte at the end): skip one byte.
        out += REPLACEMENT;
        ++in;
        --in_left;
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(converter);
    return out;
}

bool is_utf8(const std::string& text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = utf8_sequence(text, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

std::string json_quote(const std::string& utf8) {
    return json_escape_c1(
        nlohmann::json(utf8).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

std::string json_escape_c1(const std::string& json) {
    std::string out;
    out.reserve(json.size());
    for (std::size_t i = 0; i < json.size(); ++i) {
        const std::uint8_t second =
            i + 1 < json.size() ? static_cast<std::uint8_t>(json[i + 1]) : 0;
        if (static_cast<std::uint8_t>(json[i]) == 0xC2 && second >= 0x80 && second <= 0x9F) {
            out += "\\u00";
            out += hex_string(std::span<const std::uint8_t>(&second, 1));
            ++i;
        } else {
            out += json[i];
        }
    }
    return out;
}

std::string printable(const std::string& utf8) {
    std::string out;
    each_character(utf8, [&](const std::string& c) {
        const auto first = static_cast<unsigned char>(c[0]);
        // C0 and C1 controls could drive the terminal.
        const bool control = first < 0x20 || first == 0x7F ||
                             (first == 0xC2 && static_cast<unsigned char>(c[1]) < 0xA0);
        out += control ? std::string(REPLACEMENT) : c;
    });
    return out;
}

std::string ascii_lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string hex_string(std::span<const std::uint8_t> bytes) {
    std::string out;
    for (std::uint8_t byte : bytes) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", byte);
        out += digits;
    }
    return out;
}

std::string hex_number(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}
