// Claiming the cable's lines and reaching them. The request's bitmaps count
// the lines in request order (gpio_role), so D0-D3 are bits 0-3 of a value as
// they are of the data register, and Select, Ack and Busy are bits 4-6.
#include "platform/gpio/gpio_lines.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr std::uint64_t OUTPUT_MASK = (1U << GPIO_OUTPUTS) - 1;
constexpr std::uint64_t INPUT_MASK = ((1U << GPIO_ROLES) - 1) & ~OUTPUT_MASK;
constexpr std::uint64_t ALL_LINES = OUTPUT_MASK | INPUT_MASK;
constexpr const char* CONSUMER = "vmurx";

gpio_v2_line_request line_request(const gpio_setup& setup) {
    gpio_v2_line_request request{};
    for (int role = 0; role < GPIO_ROLES; ++role)
        request.offsets[role] = setup.offsets[role];
    request.num_lines = GPIO_ROLES;
    std::strncpy(request.consumer, CONSUMER, sizeof request.consumer - 1);
    // Every line an input by default, biased as a PC port biases its status
    // inputs; the outputs are set apart by attributes.
    gpio_v2_line_config& config = request.config;
    config.flags = GPIO_V2_LINE_FLAG_INPUT | (setup.pull_up ? GPIO_V2_LINE_FLAG_BIAS_PULL_UP
                                                            : GPIO_V2_LINE_FLAG_BIAS_DISABLED);
    config.attrs[0].attr.id = GPIO_V2_LINE_ATTR_ID_FLAGS;
    config.attrs[0].attr.flags = GPIO_V2_LINE_FLAG_OUTPUT;
    config.attrs[0].mask = OUTPUT_MASK;
    config.attrs[1].attr.id = GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES;
    config.attrs[1].attr.values = GPIO_INITIAL_DATA;
    config.attrs[1].mask = OUTPUT_MASK;
    config.num_attrs = 2;
    return request;
}

}  // namespace

int gpio_claim(const gpio_setup& setup, gpio_lines& lines) {
    int chip;
    do {
        chip = open(setup.path.c_str(), O_RDWR | O_CLOEXEC);
    } while (chip < 0 && errno == EINTR);
    if (chip < 0)
        return errno;
    gpio_v2_line_request request = line_request(setup);
    const int result = ioctl(chip, GPIO_V2_GET_LINE_IOCTL, &request);
    const int error = result != 0 ? errno : 0;
    // The lines stay claimed through their own descriptor.
    close(chip);
    if (error != 0)
        return error;

    lines = gpio_lines{};
    lines.fd = request.fd;
    lines.status_request.mask = INPUT_MASK;
    lines.data_request.mask = OUTPUT_MASK;
    return 0;
}

void gpio_release(gpio_lines& lines) {
    if (lines.fd < 0)
        return;
    close(lines.fd);
    lines.fd = -1;
}

std::uint8_t gpio_read_status(gpio_lines& lines) {
    if (ioctl(lines.fd, GPIO_V2_LINE_GET_VALUES_IOCTL, &lines.status_request) == 0)
        lines.last_status = gpio_status_from_bits(lines.status_request.bits);
    return lines.last_status;
}

void gpio_write_data(gpio_lines& lines, std::uint8_t value) {
    lines.data_request.bits = value & OUTPUT_MASK;
    ioctl(lines.fd, GPIO_V2_LINE_SET_VALUES_IOCTL, &lines.data_request);
}

bool gpio_read_levels(const gpio_lines& lines, std::array<bool, GPIO_ROLES>& levels) {
    gpio_v2_line_values values{};
    values.mask = ALL_LINES;
    if (lines.fd < 0 || ioctl(lines.fd, GPIO_V2_LINE_GET_VALUES_IOCTL, &values) != 0)
        return false;
    for (int role = 0; role < GPIO_ROLES; ++role)
        levels[role] = ((values.bits >> role) & 1U) != 0;
    return true;
}
