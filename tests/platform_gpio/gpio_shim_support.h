// Running a program over the preloaded GPIO stand-in (gpio_shim.cpp): the
// chips it presents, written as the plain files it reads, and the
// environment that sets it up.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "shim_run.h"

/// One chip in the stand-in's /dev.
struct gpio_chip_file {
    std::string node = "gpiochip0";
    std::string label = "pinctrl-bcm2835";
    std::vector<std::string> lines;  // names in offset order; "-" for none
    std::vector<unsigned> used;      // lines another program holds
    int open_errno = 0;
};

/// The names of a Raspberry Pi's header chip: GPIO0 to GPIO(count - 1).
inline std::vector<std::string> pi_line_names(unsigned count = 58) {
    std::vector<std::string> names;
    for (unsigned line = 0; line < count; ++line)
        names.push_back("GPIO" + std::to_string(line));
    return names;
}

/// The machine as the stand-in presents it: by default a Raspberry Pi 4's
/// header chip with the card wired by the default table.
struct gpio_world : shim_common {
    std::vector<gpio_chip_file> chips{{"gpiochip0", "pinctrl-bcm2835", pi_line_names(), {}, 0}};
    std::string card_chip = "gpiochip0";
    std::string wiring = "17,27,22,23,24,25,5";  // d0..d3, select, ack, busy
};

inline run_options gpio_run_options(const gpio_world& world, const temp_dir& dir,
                                    const std::string& vmu_options) {
    const std::string dev = dir.file("dev");
    std::filesystem::remove_all(dev);
    std::filesystem::create_directories(dev);
    for (const gpio_chip_file& chip : world.chips) {
        std::string text = "label " + chip.label + "\n";
        for (const std::string& name : chip.lines)
            text += "line " + name + "\n";
        for (unsigned line : chip.used)
            text += "used " + std::to_string(line) + "\n";
        if (chip.open_errno != 0)
            text += "open_errno " + std::to_string(chip.open_errno) + "\n";
        write_file(dev + "/" + chip.node, text);
    }
    write_file(dev + "/null-not-a-chip", "");
    run_options options = shim_common_options(VMURX_GPIO_SHIM_PATH, world, dir, vmu_options);
    options.env.insert(options.env.end(), {
                                              "VMURX_GPIO_SHIM_DEV=" + dev,
                                              "VMURX_GPIO_SHIM_CHIP=" + world.card_chip,
                                              "VMURX_GPIO_SHIM_WIRING=" + world.wiring,
                                          });
    return options;
}
