// Finding the GPIO chip and the seven lines of the cable on it, through the
// kernel's GPIO character device (/dev/gpiochipN). Chip numbers change from
// one kernel to the next, so a chip is found by a line it has (GPIO17 on a
// Raspberry Pi header), by its name or by its label, and a line by its offset
// or its name. Nothing here claims a line: that is gpio_claim's one request.
#pragma once

#include <array>
#include <string>

/// The seven lines of the cable, in the order of the line request: the four
/// outputs first, then the three inputs.
enum gpio_role { GPIO_D0, GPIO_D1, GPIO_D2, GPIO_D3, GPIO_SELECT, GPIO_ACK, GPIO_BUSY, GPIO_ROLES };
inline constexpr int GPIO_OUTPUTS = 4;

/// The role names on the command line, and the default wiring (BCM names of
/// a Raspberry Pi header).
inline constexpr std::array<const char*, GPIO_ROLES> GPIO_ROLE_NAMES = {
    "d0", "d1", "d2", "d3", "select", "ack", "busy"};
inline constexpr std::array<const char*, GPIO_ROLES> GPIO_DEFAULT_LINES = {
    "GPIO17", "GPIO27", "GPIO22", "GPIO23", "GPIO24", "GPIO25", "GPIO5"};

/// Where the chips' nodes live.
inline constexpr const char* GPIO_NODE_DIR = "/dev";

/// What the user asked for.
struct gpio_wanted {
    std::string chip;  // a path, a name (gpiochip0) or a label; empty: the chip with GPIO17
    std::array<std::string, GPIO_ROLES>
        lines = {GPIO_DEFAULT_LINES[0], GPIO_DEFAULT_LINES[1], GPIO_DEFAULT_LINES[2],
                 GPIO_DEFAULT_LINES[3], GPIO_DEFAULT_LINES[4], GPIO_DEFAULT_LINES[5],
                 GPIO_DEFAULT_LINES[6]};  // each an offset or a line name
    bool pull_up = true;                  // bias of the three inputs: pull-up, or none
};

/// A chip and lines that exist, ready to be claimed.
struct gpio_setup {
    std::string path;   // /dev/gpiochipN
    std::string name;   // gpiochipN, as the chip calls itself
    std::string label;  // the driver's label, e.g. pinctrl-bcm2835
    unsigned line_count = 0;
    std::array<unsigned, GPIO_ROLES> offsets{};
    std::array<std::string, GPIO_ROLES> names;  // the lines' own names, may be empty
    bool pull_up = true;
};

/// How gpio_find ended.
enum class gpio_found {
    found,    // `setup` is filled in
    refused,  // the system refused a chip that might be it: `error` holds errno
    unusable  // no such chip or line, or a line given twice: `message` says why
};

struct gpio_find_result {
    gpio_found outcome = gpio_found::unusable;
    int error = 0;
    std::string message;
};

/// Finds the chip and the lines `wanted` names among the chips in
/// `node_dir`. Opens chips only to ask for their information, and closes them.
gpio_find_result gpio_find(const gpio_wanted& wanted, gpio_setup& setup,
                           const std::string& node_dir = GPIO_NODE_DIR);
