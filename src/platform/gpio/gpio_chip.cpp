// Looking through the GPIO chips for the cable's lines. Each chip is opened
// once, asked for its information and each line's name, and closed again.
#include "platform/gpio/gpio_chip.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/gpio.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace {

constexpr const char* NODE_PREFIX = "gpiochip";

struct chip_view {
    std::string path;
    std::string name;
    std::string label;
    std::vector<std::string> line_names;
};

// Plain decimal digits, at most `limit`.
bool parse_number(const std::string& text, unsigned limit, unsigned& number) {
    if (text.empty() || text.size() > 9)
        return false;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    number = value;
    return value <= limit;
}

// N of a node name gpiochipN, or -1.
int node_number(const std::string& name) {
    const std::size_t length = std::strlen(NODE_PREFIX);
    unsigned number = 0;
    if (name.compare(0, length, NODE_PREFIX) != 0 ||
        !parse_number(name.substr(length), 1'000'000, number)) {
        return -1;
    }
    return static_cast<int>(number);
}

// The chips' nodes in `node_dir`, by number.
std::vector<std::string> chip_paths(const std::string& node_dir) {
    std::vector<std::pair<int, std::string>> found;
    if (DIR* dir = opendir(node_dir.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const int number = node_number(entry->d_name);
            if (number >= 0)
                found.emplace_back(number, node_dir + "/" + entry->d_name);
        }
        closedir(dir);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    paths.reserve(found.size());
    for (auto& [number, path] : found)
        paths.push_back(std::move(path));
    return paths;
}

std::string text_of(const char (&field)[GPIO_MAX_NAME_SIZE]) {
    return {field, strnlen(field, GPIO_MAX_NAME_SIZE)};
}

// Reads a chip's name, label and line names. Returns 0 or the errno.
int read_chip(const std::string& path, chip_view& chip) {
    int fd;
    do {
        fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return errno;
    gpiochip_info info{};
    int error = 0;
    if (ioctl(fd, GPIO_GET_CHIPINFO_IOCTL, &info) != 0) {
        error = errno;
    } else {
        chip = {path, text_of(info.name), text_of(info.label), {}};
        for (unsigned offset = 0; offset < info.lines && error == 0; ++offset) {
            gpio_v2_line_info line{};
            line.offset = offset;
            if (ioctl(fd, GPIO_V2_GET_LINEINFO_IOCTL, &line) != 0) {
                error = errno;
            } else {
                chip.line_names.push_back(text_of(line.name));
            }
        }
    }
    close(fd);
    return error;
}

bool is_refusal(int error) {
    return error == EACCES || error == EPERM;
}

gpio_find_result unusable(std::string message) {
    return {gpio_found::unusable, 0, std::move(message)};
}

// The offsets of the seven lines on `chip`, each distinct.
gpio_find_result resolve_lines(const chip_view& chip, const gpio_wanted& wanted,
                               gpio_setup& setup) {
    const auto count = static_cast<unsigned>(chip.line_names.size());
    gpio_setup resolved{chip.path, chip.name, chip.label, count, {}, {}, wanted.pull_up};
    for (int role = 0; role < GPIO_ROLES; ++role) {
        const std::string& text = wanted.lines[role];
        unsigned offset = 0;
        if (parse_number(text, 1'000'000'000, offset)) {
            if (offset >= count) {
                return unusable(chip.name + " has no line " + text +
                                (count == 0 ? std::string(": it has no lines")
                                            : ": its lines are 0 to " + std::to_string(count - 1)));
            }
        } else {
            const auto named = std::find(chip.line_names.begin(), chip.line_names.end(), text);
            if (named == chip.line_names.end())
                return unusable(chip.name + " has no line named '" + text + "'");
            offset = static_cast<unsigned>(named - chip.line_names.begin());
        }
        for (int earlier = 0; earlier < role; ++earlier) {
            if (resolved.offsets[earlier] == offset) {
                return unusable(std::string(GPIO_ROLE_NAMES[earlier]) + " and " +
                                GPIO_ROLE_NAMES[role] + " are both line " + std::to_string(offset) +
                                " of " + chip.name);
            }
        }
        resolved.offsets[role] = offset;
        resolved.names[role] = chip.line_names[offset];
    }
    setup = std::move(resolved);
    return {gpio_found::found, 0, {}};
}

bool chip_matches(const chip_view& chip, const std::string& wanted) {
    if (wanted.empty()) {
        const auto& names = chip.line_names;
        return std::find(names.begin(), names.end(), GPIO_DEFAULT_LINES[GPIO_D0]) != names.end();
    }
    return chip.label == wanted || chip.name == wanted;
}

}  // namespace

gpio_find_result gpio_find(const gpio_wanted& wanted, gpio_setup& setup,
                           const std::string& node_dir) {
    // A path or a node's name is that chip; anything else is looked for
    // among all chips.
    const std::string& chip_text = wanted.chip;
    std::vector<std::string> paths;
    bool one_chip = true;
    if (!chip_text.empty() && chip_text[0] == '/') {
        paths = {chip_text};
    } else if (node_number(chip_text) >= 0) {
        paths = {node_dir + "/" + chip_text};
    } else {
        paths = chip_paths(node_dir);
        one_chip = false;
        if (paths.empty()) {
            // Nothing to look through: no name or option could help.
            return unusable("no GPIO chip: no " + node_dir + "/" + NODE_PREFIX +
                            "* exists on this machine");
        }
    }

    int refusal = 0;
    for (const std::string& path : paths) {
        chip_view chip;
        const int error = read_chip(path, chip);
        if (error != 0 && one_chip) {
            if (is_refusal(error))
                return {gpio_found::refused, error, {}};
            return unusable(path + ": " + std::strerror(error));
        }
        if (error != 0) {
            // A chip the user may not open may be the one: that is the
            // reason to give if no other chip is.
            if (is_refusal(error))
                refusal = error;
            continue;
        }
        if (one_chip || chip_matches(chip, chip_text))
            return resolve_lines(chip, wanted, setup);
    }
    if (refusal != 0)
        return {gpio_found::refused, refusal, {}};
    if (chip_text.empty()) {
        return unusable(std::string("no GPIO chip has a line named ") +
                        GPIO_DEFAULT_LINES[GPIO_D0] + "; name the chip with --chip");
    }
    return unusable("no GPIO chip is named or labelled '" + chip_text + "'");
}
