// The emu backend's records for the card's own file manager: sending a file
// with Copy (vmu/copy_card) and receiving one (vmu/copy_receive), each
// counting the card's time by what the tool's accesses cost or, in real
// time, on one thread of its own (vmu/card_realtime), held as the other
// real-time cards are. In real time a status read also spends what a port's
// read costs.
#include "platform/emu/emu_backend.h"
#include "platform/host/host_delay.h"
#include "platform/host/host_sleep.h"

namespace {

// The thread of the card's own file manager, sending or receiving.
card_realtime& file_manager_thread() {
    static card_realtime rt;
    return rt;
}

// --- The counting Copy card -----------------------------------------------

bool counting_copy_acquire(std::uint16_t base) {
    emu_take_base(base);
    copy_card_start(*emu_state.copy);
    return true;
}

void counting_copy_release() {}

std::uint8_t counting_copy_read(std::uint16_t address) {
    if (address != emu_state.status_address)
        return 0xFF;
    return copy_card_status_read(*emu_state.copy);
}

void counting_copy_write(std::uint16_t address, std::uint8_t value) {
    if (address == emu_state.base)
        copy_card_data_write(*emu_state.copy, value);
}

// Masking changes nothing a card could see.
void copy_set_masked(bool) {}

void counting_copy_sleep(unsigned milliseconds) {
    copy_card_sleep(*emu_state.copy, milliseconds);
}

void counting_copy_delay(unsigned floor_us) {
    copy_card_delay(*emu_state.copy, floor_us);
}

// --- The real-time Copy card ----------------------------------------------

bool realtime_copy_acquire(std::uint16_t base) {
    emu_take_base(base);
    copy_card_start(*emu_state.copy);
    copy_card_reserve(*emu_state.copy);
    return emu_start_card_thread(emu_realtime_card().config.raise_tool, [] {
        file_manager_thread().prepare_thread = priority_raise_for_good;
        card_realtime_start(file_manager_thread(), copy_card_timed(*emu_state.copy));
    });
}

void realtime_copy_release() {
    if (!emu_state.running)
        return;
    card_realtime_stop(file_manager_thread());
    port_hold_end(emu_state.hold);
    emu_state.running = false;
}

std::uint8_t realtime_copy_read(std::uint16_t address) {
    if (address != emu_state.status_address)
        return 0xFF;
    emu_spend_ns(emu_state.copy->pc.access_ps / 1000);
    return card_realtime_read(file_manager_thread());
}

void realtime_copy_write(std::uint16_t address, std::uint8_t value) {
    if (address == emu_state.base)
        card_realtime_write(file_manager_thread(), value);
}

// --- The counting receiving card ------------------------------------------

bool counting_receive_acquire(std::uint16_t base) {
    emu_take_base(base);
    copy_receive_start(*emu_state.receive);
    return true;
}

void counting_receive_release() {}

std::uint8_t counting_receive_read(std::uint16_t address) {
    if (address != emu_state.status_address)
        return 0xFF;
    return copy_receive_status_read(*emu_state.receive);
}

void counting_receive_write(std::uint16_t address, std::uint8_t value) {
    if (address == emu_state.base)
        copy_receive_data_write(*emu_state.receive, value);
}

void counting_receive_sleep(unsigned milliseconds) {
    copy_receive_sleep(*emu_state.receive, milliseconds);
}

void counting_receive_delay(unsigned floor_us) {
    copy_receive_delay(*emu_state.receive, floor_us);
}

// --- The real-time receiving card -----------------------------------------

bool realtime_receive_acquire(std::uint16_t base) {
    emu_take_base(base);
    copy_receive_start(*emu_state.receive);
    copy_receive_reserve(*emu_state.receive);
    return emu_start_card_thread(emu_realtime_card().config.raise_tool, [] {
        file_manager_thread().prepare_thread = priority_raise_for_good;
        card_realtime_start(file_manager_thread(), copy_receive_timed(*emu_state.receive));
    });
}

std::uint8_t realtime_receive_read(std::uint16_t address) {
    if (address != emu_state.status_address)
        return 0xFF;
    emu_spend_ns(emu_state.receive->pc.access_ps / 1000);
    return card_realtime_read(file_manager_thread());
}

}  // namespace

const emu_mode counting_copy_mode = {
    counting_copy_acquire, counting_copy_release, counting_copy_read,  counting_copy_write,
    copy_set_masked,       counting_copy_sleep,   counting_copy_delay,
};
const emu_mode realtime_copy_mode = {
    realtime_copy_acquire,  realtime_copy_release, realtime_copy_read, realtime_copy_write,
    emu_raise_while_masked, host_sleep_ms,         host_delay_unit,
};
const emu_mode counting_receive_mode = {
    counting_receive_acquire, counting_receive_release, counting_receive_read,
    counting_receive_write,   copy_set_masked,          counting_receive_sleep,
    counting_receive_delay,
};
// Released and written as the real-time Copy card: the same thread.
const emu_mode realtime_receive_mode = {
    realtime_receive_acquire, realtime_copy_release, realtime_receive_read, realtime_copy_write,
    emu_raise_while_masked,   host_sleep_ms,         host_delay_unit,
};
