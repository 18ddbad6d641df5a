// The cable's seven lines, claimed in one request on the GPIO character
// device: D0-D3 as outputs, Select, Ack and Busy as inputs. The request gives
// one descriptor for all seven, and each status read or data write is one
// ioctl on it, its argument prepared once when the lines are claimed.
#pragma once

#include <linux/gpio.h>

#include <array>
#include <cstdint>

#include "cable/cable.h"
#include "platform/gpio/gpio_chip.h"

/// The data register at open: D0 (the PC's clock, idle high) and D3 (port
/// open) high, D1 and D2 low. The lines take these levels as they are
/// claimed, so the card never sees a glitch.
inline constexpr std::uint8_t GPIO_INITIAL_DATA = CABLE_DATA_IDLE;

/// Claimed lines.
struct gpio_lines {
    int fd = -1;  // the line request's descriptor
    gpio_v2_line_values status_request{};
    gpio_v2_line_values data_request{};
    // What a failed read returns, so that a failure never looks like an edge
    // of the card's clock: an idle card that is not ready until the first read.
    std::uint8_t last_status = 0x7F;
};

/// Claims the lines of `setup` with consumer "vmurx": opens the chip, makes
/// the one request, closes the chip. Returns 0 with `lines` filled in, or the
/// errno: from open (EACCES, ...) or from the request (EBUSY for a line in
/// use).
int gpio_claim(const gpio_setup& setup, gpio_lines& lines);

/// Gives the lines back (the outputs keep their levels) and closes the
/// descriptor.
void gpio_release(gpio_lines& lines);

/// One ioctl: the three inputs as a PC port's status register presents
/// them. Select (bit 4) and Ack (bit 6) as their levels, Busy (bit 7)
/// inverted, as the port's hardware inverts it.
std::uint8_t gpio_read_status(gpio_lines& lines);

/// One ioctl: D0-D3 from bits 0-3 of `value`. A failure cannot be reported
/// from here: the card then sees no change and the link's timeout ends it.
void gpio_write_data(gpio_lines& lines, std::uint8_t value);

/// The current level of each of the seven lines (outputs as driven), for a
/// report. Returns false when the read fails.
bool gpio_read_levels(const gpio_lines& lines, std::array<bool, GPIO_ROLES>& levels);

/// The status register for the input bits of a line request's values
/// (Select bit 4, Ack bit 5, Busy bit 6): Select stays in place, Ack moves to
/// bit 6 and Busy to bit 7, inverted.
constexpr std::uint8_t gpio_status_from_bits(std::uint64_t bits) {
    return cable_status_byte((bits & 0x10U) != 0, (bits & 0x20U) != 0, (bits & 0x40U) != 0);
}
