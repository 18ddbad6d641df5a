// A stand-in for the kernel's GPIO character device, preloaded (LD_PRELOAD)
// into the unmodified vmurx-gpio and vmurx-probe-gpio programs so that their
// GPIO backend runs against the software VMU.
//
// Each chip is a plain file in a directory the test made, standing in for
// /dev: opening /dev/gpiochipN opens that file, and listing /dev lists the
// directory. The file describes the chip, one "key value" per line:
//   label L        the chip's label
//   line NAME      the next line's name ("-" for none), in offset order
//   used OFFSET    a line another program holds
//   open_errno N   what opening the chip fails with
// The chip ioctls are answered with the kernel's rules (a line in use gives
// EBUSY, an offset the chip lacks or a line twice EINVAL), and a line request
// gets a descriptor of its own whose values are the card's lines: its D0-D3
// inputs and its Select, Ack and Busy outputs, wired to the offsets
// VMURX_GPIO_SHIM_WIRING names. Reading a card's input line is one tick of
// the card, as a status read is.
//
// Configured by the environment, besides kernel_shim.h's variables:
//   VMURX_GPIO_SHIM_DEV     the directory standing in for /dev
//   VMURX_GPIO_SHIM_CHIP    the chip the card is wired to (default gpiochip0)
//   VMURX_GPIO_SHIM_WIRING  d0,d1,d2,d3,select,ack,busy offsets, separated by
//                           commas (default 17,27,22,23,24,25,5)
#include <fcntl.h>
#include <linux/gpio.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kernel_shim.h"

namespace {

constexpr const char* DEV = "/dev";
constexpr const char* NODE_PREFIX = "/dev/gpiochip";
enum { D0, D1, D2, D3, SELECT, ACK, BUSY, ROLES };

struct chip_file {
    int fd = -1;
    std::string name;  // gpiochipN
    std::string label;
    std::vector<std::string> lines;
};

struct line_request {
    int fd = -1;
    std::string chip;
    std::vector<unsigned> offsets;
    std::vector<std::uint64_t> flags;  // per line, after the attributes
    std::uint64_t levels = 0;          // the outputs' levels, by index
};

struct gpio_state {
    std::string dev;
    std::string card_chip = "gpiochip0";
    std::array<unsigned, ROLES> wiring = {17, 27, 22, 23, 24, 25, 5};
    std::vector<chip_file> chips;
    std::vector<line_request> requests;
    std::vector<std::pair<std::string, unsigned>> used;  // held by another program
};

gpio_state& gpio() {
    static gpio_state* state = new gpio_state;  // never destroyed: used until the very end
    return *state;
}

int fail(int error) {
    errno = error;
    return -1;
}

void copy_name(char (&field)[GPIO_MAX_NAME_SIZE], const std::string& text) {
    std::memset(field, 0, sizeof field);
    std::strncpy(field, text.c_str(), sizeof field - 1);
}

bool in_use(const std::string& chip, unsigned offset) {
    for (const auto& [held_chip, held_offset] : gpio().used) {
        if (held_chip == chip && held_offset == offset)
            return true;
    }
    for (const line_request& request : gpio().requests) {
        if (request.fd >= 0 && request.chip == chip &&
            std::count(request.offsets.begin(), request.offsets.end(), offset) > 0) {
            return true;
        }
    }
    return false;
}

// The card's role of line `offset` of `chip`, or -1.
int role_of(const std::string& chip, unsigned offset) {
    const gpio_state& g = gpio();
    if (chip != g.card_chip)
        return -1;
    for (int role = 0; role < ROLES; ++role) {
        if (g.wiring[role] == offset)
            return role;
    }
    return -1;
}

// What the card sees on D0-D3: the levels its lines are driven to.
std::uint8_t card_data(const line_request& request) {
    std::uint8_t data = 0;
    for (std::size_t i = 0; i < request.offsets.size(); ++i) {
        const int role = role_of(request.chip, request.offsets[i]);
        const bool output = (request.flags[i] & GPIO_V2_LINE_FLAG_OUTPUT) != 0;
        if (role >= D0 && role <= D3 && output && ((request.levels >> i) & 1U) != 0)
            data = static_cast<std::uint8_t>(data | (1U << role));
    }
    return data;
}

int request_lines(const chip_file& chip, gpio_v2_line_request& wanted) {
    count("ioctl_get_line");
    if (wanted.num_lines == 0 || wanted.num_lines > GPIO_V2_LINES_MAX ||
        wanted.config.num_attrs > GPIO_V2_LINE_NUM_ATTRS_MAX) {
        return fail(EINVAL);
    }
    line_request request;
    request.chip = chip.name;
    for (unsigned i = 0; i < wanted.num_lines; ++i) {
        const unsigned offset = wanted.offsets[i];
        if (offset >= chip.lines.size() ||
            std::count(request.offsets.begin(), request.offsets.end(), offset) > 0) {
            return fail(EINVAL);
        }
        request.offsets.push_back(offset);
        request.flags.push_back(wanted.config.flags);
    }
    for (unsigned i = 0; i < wanted.num_lines; ++i) {
        if (in_use(chip.name, request.offsets[i]))
            return count("requests_refused"), fail(EBUSY);
    }
    for (unsigned a = 0; a < wanted.config.num_attrs; ++a) {
        const gpio_v2_line_config_attribute& attribute = wanted.config.attrs[a];
        for (unsigned i = 0; i < wanted.num_lines; ++i) {
            if (((attribute.mask >> i) & 1U) == 0)
                continue;
            if (attribute.attr.id == GPIO_V2_LINE_ATTR_ID_FLAGS)
                request.flags[i] = attribute.attr.flags;
            if (attribute.attr.id == GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES &&
                ((attribute.attr.values >> i) & 1U) != 0) {
                request.levels |= std::uint64_t{1} << i;
            }
        }
    }
    kernel_shim& s = shim();
    std::string roles;
    for (unsigned i = 0; i < wanted.num_lines; ++i) {
        const std::uint64_t flags = request.flags[i];
        const bool output = (flags & GPIO_V2_LINE_FLAG_OUTPUT) != 0;
        const bool input = (flags & GPIO_V2_LINE_FLAG_INPUT) != 0;
        if (output == input)
            return fail(EINVAL);
        count(output ? "request_outputs" : "request_inputs");
        if (input && (flags & GPIO_V2_LINE_FLAG_BIAS_PULL_UP) != 0)
            count("request_inputs_pulled_up");
        if (input && (flags & GPIO_V2_LINE_FLAG_BIAS_DISABLED) != 0)
            count("request_inputs_without_bias");
        const int role = role_of(chip.name, request.offsets[i]);
        // A card's input driven by the PC, or its output read by the PC.
        if (role >= 0 && (role <= D3) != output)
            count("request_lines_miswired");
    }
    s.counts["request_consumer_vmurx"] = std::strcmp(wanted.consumer, "vmurx") == 0 ? 1 : 0;
    s.counts["request_lines"] = wanted.num_lines;
    REAL(open);
    request.fd = real_open("/dev/null", O_RDWR | O_CLOEXEC);
    if (request.fd < 0)
        return -1;
    wanted.fd = request.fd;
    count("requests_granted");
    // The card sees its D0-D3 take their levels as the lines are claimed.
    s.counts["initial_data"] = card_data(request);
    shim_data_write(card_data(request));
    shim_card_acquired();
    gpio().requests.push_back(request);
    return 0;
}

int chip_ioctl(const chip_file& chip, unsigned long request, void* argument) {
    count("ioctl_total");
    switch (request) {
        case GPIO_GET_CHIPINFO_IOCTL: {
            count("ioctl_chipinfo");
            auto* info = static_cast<gpiochip_info*>(argument);
            copy_name(info->name, chip.name);
            copy_name(info->label, chip.label);
            info->lines = static_cast<std::uint32_t>(chip.lines.size());
            return 0;
        }
        case GPIO_V2_GET_LINEINFO_IOCTL: {
            count("ioctl_lineinfo");
            auto* info = static_cast<gpio_v2_line_info*>(argument);
            if (info->offset >= chip.lines.size())
                return fail(EINVAL);
            const unsigned offset = info->offset;
            *info = gpio_v2_line_info{};
            info->offset = offset;
            copy_name(info->name, chip.lines[offset] == "-" ? "" : chip.lines[offset]);
            info->flags = GPIO_V2_LINE_FLAG_INPUT;
            if (in_use(chip.name, offset)) {
                info->flags |= GPIO_V2_LINE_FLAG_USED;
                copy_name(info->consumer, "another");
            }
            return 0;
        }
        case GPIO_V2_GET_LINE_IOCTL:
            return request_lines(chip, *static_cast<gpio_v2_line_request*>(argument));
        default:
            count("ioctl_other");
            return fail(ENOTTY);
    }
}

int values_ioctl(line_request& request, unsigned long code, gpio_v2_line_values& values) {
    count("ioctl_total");
    if (code == GPIO_V2_LINE_GET_VALUES_IOCTL) {
        count("ioctl_get_values");
        // Reading any of the card's outputs is one tick of the card.
        bool reads_card = false;
        for (std::size_t i = 0; i < request.offsets.size(); ++i)
            reads_card = reads_card || (((values.mask >> i) & 1U) != 0 &&
                                        role_of(request.chip, request.offsets[i]) >= SELECT);
        const std::uint8_t raw = reads_card ? shim_status_read() : 0;
        std::uint64_t bits = 0;
        for (std::size_t i = 0; i < request.offsets.size(); ++i) {
            if (((values.mask >> i) & 1U) == 0)
                continue;
            const int role = role_of(request.chip, request.offsets[i]);
            bool level;
            if ((request.flags[i] & GPIO_V2_LINE_FLAG_OUTPUT) != 0) {
                level = ((request.levels >> i) & 1U) != 0;
            } else if (role == SELECT) {
                level = (raw & 0x10) != 0;
            } else if (role == ACK) {
                level = (raw & 0x40) != 0;
            } else if (role == BUSY) {
                level = (raw & 0x80) == 0;  // the card's level; the PC port inverts it
            } else {
                // Nothing wired: the bias decides.
                level = (request.flags[i] & GPIO_V2_LINE_FLAG_BIAS_PULL_UP) != 0;
            }
            bits |= static_cast<std::uint64_t>(level) << i;
        }
        values.bits = bits;
        return 0;
    }
    if (code == GPIO_V2_LINE_SET_VALUES_IOCTL) {
        count("ioctl_set_values");
        for (std::size_t i = 0; i < request.offsets.size(); ++i) {
            if (((values.mask >> i) & 1U) != 0 &&
                (request.flags[i] & GPIO_V2_LINE_FLAG_OUTPUT) == 0) {
                return count("set_values_on_input"), fail(EPERM);
            }
        }
        request.levels = (request.levels & ~values.mask) | (values.bits & values.mask);
        shim_data_write(card_data(request));
        return 0;
    }
    note_call("ioctl");
    count("ioctl_other");
    return fail(ENOTTY);
}

chip_file* find_chip(int fd) {
    for (chip_file& chip : gpio().chips) {
        if (chip.fd == fd && fd >= 0)
            return &chip;
    }
    return nullptr;
}

line_request* find_request(int fd) {
    for (line_request& request : gpio().requests) {
        if (request.fd == fd && fd >= 0)
            return &request;
    }
    return nullptr;
}

int open_chip(const char* path) {
    shim_configure();
    count("chip_opens");
    gpio_state& g = gpio();
    chip_file chip;
    chip.name = path + std::strlen(DEV) + 1;
    const std::string file = g.dev + "/" + chip.name;
    std::ifstream description(file);
    if (!description)
        return fail(ENOENT);
    int open_errno = 0;
    std::string key;
    std::string value;
    while (description >> key >> value) {
        if (key == "label") {
            chip.label = value;
        } else if (key == "line") {
            chip.lines.push_back(value);
        } else if (key == "used") {
            g.used.emplace_back(chip.name, static_cast<unsigned>(std::atoi(value.c_str())));
        } else if (key == "open_errno") {
            open_errno = std::atoi(value.c_str());
        }
    }
    if (open_errno != 0)
        return fail(open_errno);
    REAL(open);
    chip.fd = real_open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (chip.fd >= 0)
        g.chips.push_back(chip);
    return chip.fd;
}

}  // namespace

void device_configure() {
    gpio_state& g = gpio();
    if (const char* dev = std::getenv("VMURX_GPIO_SHIM_DEV"))
        g.dev = dev;
    if (const char* chip = std::getenv("VMURX_GPIO_SHIM_CHIP"))
        g.card_chip = chip;
    if (const char* wiring = std::getenv("VMURX_GPIO_SHIM_WIRING")) {
        std::stringstream list(wiring);
        std::string item;
        for (int role = 0; role < ROLES && std::getline(list, item, ','); ++role)
            g.wiring[role] = static_cast<unsigned>(std::atoi(item.c_str()));
    }
}

bool device_open(const char* path, int, int& fd) {
    if (std::strncmp(path, NODE_PREFIX, std::strlen(NODE_PREFIX)) != 0)
        return false;
    fd = open_chip(path);
    return true;
}

std::string device_redirect(const char* path) {
    shim_configure();
    if (std::strcmp(path, DEV) == 0 && !gpio().dev.empty())
        return gpio().dev;
    return path;
}

bool device_ioctl(int fd, unsigned long request, void* argument, int& result) {
    if (chip_file* chip = find_chip(fd)) {
        note_call("ioctl");
        result = chip_ioctl(*chip, request, argument);
        return true;
    }
    if (line_request* lines = find_request(fd)) {
        result = values_ioctl(*lines, request, *static_cast<gpio_v2_line_values*>(argument));
        return true;
    }
    return false;
}

void device_close(int fd) {
    if (chip_file* chip = find_chip(fd))
        chip->fd = -1;
    if (line_request* request = find_request(fd)) {
        request->fd = -1;
        count("requests_released");
        shim().vmu.released = true;
    }
}

void device_report(std::FILE* report) {
    long long open_chips = 0;
    for (const chip_file& chip : gpio().chips)
        open_chips += chip.fd >= 0 ? 1 : 0;
    long long open_requests = 0;
    for (const line_request& request : gpio().requests)
        open_requests += request.fd >= 0 ? 1 : 0;
    std::fprintf(report, "open_chips %lld\nopen_requests %lld\n", open_chips, open_requests);
}
