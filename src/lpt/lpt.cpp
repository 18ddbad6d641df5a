// Selecting, opening and closing the parallel port.
#include "lpt/lpt.h"

#include <strings.h>

#include <cstdio>

#include "platform/platform.h"

namespace {

// Finds the base address that `name` gives. "lpt" followed by 1 to 3, in any
// case, picks from LPT_BASES and ignores the rest; any other "lpt..." name is
// refused without being read as a number. Else the name is a number in C
// notation (optional white space and sign, 0x hex, 0 octal, decimal), of
// which the low 16 bits count.
bool select_base(const char* name, std::uint16_t& base) {
    if (strncasecmp(name, "lpt", 3) == 0) {
        char digit = name[3];
        if (digit < '1' || digit > '3')
            return false;
        base = LPT_BASES[static_cast<std::size_t>(digit - '1')];
        return true;
    }
    // Read as a long and cut to 16 bits: the numbers a short conversion
    // takes, without its undefined result for values that do not fit.
    long number = 0;
    if (std::sscanf(name, "%li", &number) != 1)
        return false;
    base = static_cast<std::uint16_t>(number);
    return true;
}

}  // namespace

bool lpt_select_port(const char* name, std::uint16_t& base) {
    if (select_base(name, base))
        return true;
    std::printf("Unknown parallel port: %s\nTry a hex base address if necessary (ie. 0x378)\n",
                name);
    return false;
}

int lpt_open(const char* name, lpt_port& port) {
    std::uint16_t base = 0;
    if (!lpt_select_port(name, base))
        return 0;
    if (!port_acquire(base))
        return 0;  // errno says why

    std::printf("open \"%s\" @ $%03x\n", name, static_cast<unsigned>(base));
    port.base = base;
    port.first_read = 1;
    port.log_count = 0;
    port.log_dropped = 0;
    port.data_shadow = DATA_SEND_CLOCK | DATA_OPEN;
    port_write(port.base, static_cast<std::uint8_t>(port.data_shadow));
    return 1;
}

int lpt_close(lpt_port& port) {
    std::fputs("close\n", stdout);
    // D0 to D2 keep their last state; only D3 falls.
    port.data_shadow &= static_cast<std::uint16_t>(~DATA_OPEN);
    port_write(port.base, static_cast<std::uint8_t>(port.data_shadow));
    port_release();
    comm_log_print(port);
    return 1;
}
