// The parallel-port link: the record of the opened port, the lines of its
// data and status registers, and opening and closing it.
#pragma once

#include <array>
#include <cstdint>

#include "cable/cable.h"
#include "lpt/comm_log.h"

// Status register (base + 1), read only: the VMU's lines to the PC. Every read
// is XORed with STATUS_XOR first, which undoes the port's inversion of the Busy
// pin (bit 7) so that every tested bit is a pin level; it also flips bit 3,
// which nothing tests.
inline constexpr std::uint8_t STATUS_XOR = CABLE_STATUS_INVERTED | 0x08;

/// Base addresses of LPT1 to LPT3.
inline constexpr std::array<std::uint16_t, 3> LPT_BASES = {0x378, 0x278, 0x3BC};

/// The opened port. The data register is never read back: `data_shadow` is the
/// only record of the output lines, and after every link operation the
/// register holds its low byte.
struct lpt_port {
    std::uint16_t base;
    std::uint16_t data_shadow;
    std::int32_t first_read;  // 1: the next lpt_read_byte waits for the ready signal
    std::int32_t log_count;
    std::array<std::int32_t, COMM_LOG_SIZE> comm_log;
    std::int32_t log_dropped;  // entries that did not fit in comm_log
};

/// Turns a device name into the port's base address: "LPTn" for n = 1 to 3,
/// in any case, or a number in C notation of which the low 16 bits count.
/// False, printing nothing, for a name that gives no port.
bool lpt_parse_port(const char* name, std::uint16_t& base);

/// lpt_parse_port, which for a name that gives no port prints the
/// unknown-port message on standard output and returns false with errno set
/// to ENODEV.
bool lpt_select_port(const char* name, std::uint16_t& base);

/// Selects the port that `name` gives ("LPTn" for n = 1 to 3, in any case,
/// or a number in C notation), acquires it, prints the "open" line and raises
/// D0 and D3. Returns 1 when open; 0 after printing the unknown-port message,
/// or when the system refuses access (errno tells why; nothing is printed).
int lpt_open(const char* name, lpt_port& port);

/// Prints "close\n", lowers D3, releases the port and prints the
/// communications log.
/// Always returns 1.
int lpt_close(lpt_port& port);
