// The card behind a stand-in's device: the scripted protocol card, or the
// receiving card of vmurx-send's programs, which counts its time by the
// tool's accesses and sleeps.
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "kernel_shim.h"

// The receiving card of VMURX_SHIM_RECEIVE, counting time by the PC's
// accesses and sleeps.
void shim_configure_receiving(const char* options) {
    kernel_shim& s = shim();
    std::vector<std::string> args;
    std::stringstream words(options);
    for (std::string word; words >> word;)
        args.push_back(word);
    std::string error;
    if (!receive_parse_options(args, s.receive, error)) {
        std::fprintf(stderr, "kernel stand-in: %s\n", error.c_str());
        std::abort();
    }
    s.receiving = true;
    copy_receive_start(s.receive.card);
}

std::uint8_t shim_status_read() {
    kernel_shim& s = shim();
    if (!s.receiving)
        return vmu_sim_status_read(s.vmu);
    count("receive_status_reads");
    s.in_card = true;
    const std::uint8_t raw = copy_receive_status_read(s.receive.card);
    s.in_card = false;
    return raw;
}

void shim_data_write(std::uint8_t value) {
    kernel_shim& s = shim();
    if (!s.receiving) {
        vmu_sim_data_write(s.vmu, value);
        return;
    }
    count("receive_data_writes");
    // The tool's delay units are a spin the kernel never sees: the card is
    // charged them here, 50 µs each, the lead before the first fall of each
    // eight and a unit after every level the tool puts on D0.
    constexpr unsigned UNIT_US = 50;
    const bool clock_moved = ((s.receive.card.data ^ value) & DATA_SEND_CLOCK) != 0;
    if (clock_moved && (value & DATA_SEND_CLOCK) == 0 && s.pc_falls++ % 8 == 0) {
        for (int unit = 0; unit < SEND_LEAD_DELAYS; ++unit)
            copy_receive_delay(s.receive.card, UNIT_US);
    }
    s.in_card = true;  // the card may store its image meanwhile
    copy_receive_data_write(s.receive.card, value);
    if (clock_moved)
        copy_receive_delay(s.receive.card, UNIT_US);
    s.in_card = false;
}

void shim_card_acquired() {
    shim().vmu.acquired = true;
}

void shim_pass_card_time(const timespec& request) {
    kernel_shim& s = shim();
    if (!s.receiving || s.in_card)
        return;
    const auto ms = static_cast<unsigned>(request.tv_sec * 1000 + request.tv_nsec / 1'000'000);
    copy_receive_sleep(s.receive.card, ms);
}
