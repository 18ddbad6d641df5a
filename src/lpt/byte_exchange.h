// Byte exchange over the cable, one bit at a time, most significant bit
// first: bytes from the VMU are clocked by the VMU on Ack with the bit on
// Busy, while the PC echoes the previous byte on D2; bytes to the VMU are
// clocked by the PC on D0 with the bit on D1, timed by busy-wait delays.
#pragma once

#include <cstdint>

#include "cable/cable.h"
#include "platform/platform.h"

struct lpt_port;

/// Timeouts count in units of POLLS_PER_UNIT status reads; below 1 means
/// DEFAULT_TIMEOUT. Only the fuzz build sets a smaller unit (VMURX_POLLS_PER_UNIT),
/// so that a card that stalls costs thousands of reads instead of millions.
#ifndef VMURX_POLLS_PER_UNIT
#define VMURX_POLLS_PER_UNIT 1'000'000
#endif
inline constexpr std::int32_t POLLS_PER_UNIT = VMURX_POLLS_PER_UNIT;
inline constexpr int DEFAULT_TIMEOUT = 10;
inline constexpr int READY_TIMEOUT = 10;
inline constexpr int BLOCK_TIMEOUT = 5;

/// What the first read after opening gives when the VMU signals ready.
inline constexpr int READY_BYTE = 0x55;
/// What a read gives when its poll budget runs out.
inline constexpr int READ_TIMEOUT = -2;

/// The byte whose bits go out on D2 while a byte is received: the last byte
/// assembled, ECHO_INITIAL before the first. Program-wide; opening the port
/// does not reset it.
inline constexpr std::uint8_t ECHO_INITIAL = 0x50;
extern std::uint8_t echo_byte;

/// The least time a delay unit lasts, in microseconds, however fast the loop
/// runs: on today's processors the loop alone takes a few microseconds, far
/// shorter than the levels a card built for the protocol's time may expect.
/// 0 leaves the bare loop. Program-wide, DEFAULT_DELAY_FLOOR_US until a
/// program sets another: vmurx_main sets it once at start-up from
/// DELAY_FLOOR_VARIABLE, the software card's programs before that.
inline constexpr unsigned DEFAULT_DELAY_FLOOR_US = 50;
inline constexpr unsigned MAX_DELAY_FLOOR_US = 10'000;
inline constexpr const char* DELAY_FLOOR_VARIABLE = "VMURX_DELAY_US";
void set_delay_floor_us(unsigned floor_us);
unsigned delay_floor_us();

/// Reads the text of DELAY_FLOOR_VARIABLE: a whole number of microseconds
/// from 0 to MAX_DELAY_FLOOR_US, digits only (no sign, space or unit). False
/// for anything else, and `floor_us` is left as it was.
bool parse_delay_floor(const char* text, unsigned& floor_us);

/// Waits one delay unit by calling the delay function in use: lpt_delay_unit
/// unless a program has set another.
void lpt_delay();

/// What lpt_delay calls. Set once at start-up, before the port is opened; a
/// null function puts lpt_delay_unit back. A build that must not wait (the
/// fuzz target, whose card counts time in status reads) sets one that
/// returns at once.
using delay_function = void (*)();
void set_delay_function(delay_function delay);

/// The tool's delay unit: the platform's (port_delay_unit) with the delay
/// floor in use.
void lpt_delay_unit();

/// The first call after lpt_open waits for the ready signal and gives
/// READY_BYTE; every later call receives one byte (0 to 255). Either gives
/// READ_TIMEOUT when `timeout` units of status reads are used up.
int lpt_read_byte(lpt_port& port, int timeout);

/// Sends the low 8 bits of `byte`. Never waits for the VMU; always returns 0.
int lpt_write_byte(lpt_port& port, int byte);
