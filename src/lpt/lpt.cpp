// Selecting, opening and closing the parallel port.
#include "lpt/lpt.h"

#include <strings.h>

#include <cctype>
#include <cerrno>
#include <cstdio>

#include "platform/platform.h"

// Finds the base address that `name` gives. "lpt" followed by 1 to 3, in any
// case, picks from LPT_BASES and ignores the rest; any other "lpt..." name is
// refused without being read as a number. Else the name is a number in C
// notation (optional white space and sign, 0x hex, 0 octal, decimal), of
// which the low 16 bits count.
bool lpt_parse_port(const char* name, std::uint16_t& base) {
    if (strncasecmp(name, "lpt", 3) == 0) {
        char digit = name[3];
        if (digit < '1' || digit > '3')
            return false;
        base = LPT_BASES[static_cast<std::size_t>(digit - '1')];
        return true;
    }
    // Read by hand rather than with the C library's "%i", which newer
    // libraries extend (a "0b" prefix, for one): every build must give the
    // same port for the same name. The value is kept modulo 2^16 as it is
    // read, so no length of digits can overflow, and a minus sign negates it
    // in the same arithmetic ("-1" is 0xFFFF).
    //
    // The value of a digit in any radix up to 16; 16 for anything else.
    const auto digit_value = [](char c) -> unsigned {
        if (c >= '0' && c <= '9')
            return static_cast<unsigned>(c - '0');
        if (c >= 'a' && c <= 'f')
            return static_cast<unsigned>(c - 'a' + 10);
        if (c >= 'A' && c <= 'F')
            return static_cast<unsigned>(c - 'A' + 10);
        return 16;
    };
    const char* next = name;
    while (std::isspace(static_cast<unsigned char>(*next)))
        ++next;
    const bool negative = *next == '-';
    if (*next == '+' || *next == '-')
        ++next;
    unsigned radix = 10;
    bool have_digit = false;
    if (next[0] == '0') {
        have_digit = true;  // "0" alone, and "0x" without hex digits, read as 0
        ++next;
        radix = 8;
        if ((next[0] == 'x' || next[0] == 'X') &&
            std::isxdigit(static_cast<unsigned char>(next[1]))) {
            ++next;
            radix = 16;
        }
    }
    std::uint16_t number = 0;
    while (true) {
        const unsigned digit = digit_value(*next);
        if (digit >= radix)
            break;
        number = static_cast<std::uint16_t>(number * radix + digit);
        have_digit = true;
        ++next;
    }
    if (!have_digit)
        return false;
    base = negative ? static_cast<std::uint16_t>(-number) : number;
    return true;
}

bool lpt_select_port(const char* name, std::uint16_t& base) {
    if (lpt_parse_port(name, base))
        return true;
    std::fprintf(link_output(),
                 "Unknown parallel port: %s\nTry a hex base address if necessary (ie. 0x378)\n",
                 name);
    errno = ENODEV;  // so that the caller's perror does not say "Success"
    return false;
}

int lpt_open(const char* name, lpt_port& port) {
    std::uint16_t base = 0;
    if (!lpt_select_port(name, base))
        return 0;
    if (!port_acquire(base))
        return 0;  // errno says why

    std::fprintf(link_output(), "open \"%s\" @ $%03x\n", name, static_cast<unsigned>(base));
    port.base = base;
    port.first_read = 1;
    port.log_count = 0;
    port.log_dropped = 0;
    port.data_shadow = DATA_SEND_CLOCK | DATA_OPEN;
    port_write(port.base, static_cast<std::uint8_t>(port.data_shadow));
    return 1;
}

int lpt_close(lpt_port& port) {
    std::fputs("close\n", link_output());
    // D0 to D2 keep their last state; only D3 falls.
    port.data_shadow &= static_cast<std::uint16_t>(~DATA_OPEN);
    port_write(port.base, static_cast<std::uint8_t>(port.data_shadow));
    port_release();
    comm_log_print(port);
    return 1;
}
