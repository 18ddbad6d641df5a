// The platform seam over the software VMU of src/vmu/: the eight functions
// and nothing else. Each of the eight ways to run a card is one record of
// operations, chosen when the port is acquired; each function of the seam
// calls the chosen record's and does nothing else. Until the first
// port_acquire the counting protocol card is the one in use.
//
// The counting protocol card (the default, for the tests): the card advances
// one tick per status read, masking is a flag the card records with every
// access, and the sleep only counts. Reads of the status register and writes
// of the data register go to the card; any other access is recorded as
// stray. The card does not see the PC's delay unit, which waits as on a real
// machine; the cards that count the PC's time (the processor card, the Copy
// card, the receiving card) are told each unit instead, and nothing waits.
// In real time every card's delay unit waits as on a real machine.
//
// The real-time protocol card: the card runs on its own thread, and the
// registers are the atomics of vmu_realtime; a status read is one atomic
// load. The port is held as on a real machine (platform/host: memory locked,
// the raise prepared), masking raises the polling thread's priority and the
// sleep sleeps. The card thread owns the vmu_sim record from port_acquire to
// port_release, so this side touches it only outside that stretch.
//
// The processor card: the card running its own program on the processor
// model (vmu/cpu_card), counting the tool's accesses or, in real time, on
// its own thread paced by the clock, held as the real-time protocol card is.
// Accesses at another address are ignored; the tool never makes them.
//
// The Copy card: the card's own file manager sending a file (vmu/copy_card),
// counting the card's time by what the tool's accesses cost or, in real
// time, on its own thread, held as the other real-time cards are. In real
// time a status read also spends what a port's read costs. The receiving
// card (vmu/copy_receive), the same file manager taking a file, runs in the
// same two ways.
#include <cerrno>
#include <system_error>

#include "clock/monotonic_clock.h"
#include "platform/emu/emu_backend.h"
#include "platform/host/host_delay.h"
#include "platform/host/host_sleep.h"
#include "platform/platform.h"

emu_backend emu_state;

vmu_realtime& emu_realtime_card() {
    static vmu_realtime rt;
    return rt;
}

void emu_spend_ns(std::int64_t ns) {
    const std::int64_t until = monotonic_ns() + ns;
    while (monotonic_ns() < until) {
    }
}

void emu_take_base(std::uint16_t base) {
    emu_state.base = base;
    emu_state.status_address = static_cast<std::uint16_t>(base + 1);
}

bool emu_start_card_thread(bool raise_tool, void (*start)()) {
    port_hold_begin(emu_state.hold, {.raise = raise_tool, .pin = false});
    try {
        start();
    } catch (const std::system_error& failure) {
        port_hold_end(emu_state.hold);
        errno = failure.code().value();
        return false;
    }
    emu_state.running = true;
    return true;
}

void emu_raise_while_masked(bool masked) {
    if (masked) {
        priority_raise(emu_state.hold.priority);
    } else {
        priority_lower(emu_state.hold.priority);
    }
}

namespace {

cpu_realtime& cpu_realtime_card() {
    static cpu_realtime rt;
    return rt;
}

// --- The counting protocol card -------------------------------------------

bool counting_card_acquire(std::uint16_t base) {
    vmu_sim& vmu = emu_vmu();
    if (vmu.refuse_errno != 0) {
        errno = vmu.refuse_errno;
        return false;
    }
    emu_take_base(base);
    vmu.base = base;
    vmu.acquired = true;
    return true;
}

void counting_card_release() {
    emu_vmu().released = true;
}

// The card's own base, not the backend's: a test may put a card behind the
// port without opening it.
std::uint8_t counting_card_read(std::uint16_t address) {
    vmu_sim& vmu = emu_vmu();
    if (address != static_cast<std::uint16_t>(vmu.base + 1)) {
        vmu.stray.push_back({address, false});
        return 0xFF;
    }
    return vmu_sim_status_read(vmu);
}

void counting_card_write(std::uint16_t address, std::uint8_t value) {
    vmu_sim& vmu = emu_vmu();
    if (address != vmu.base) {
        vmu.stray.push_back({address, true});
        return;
    }
    vmu_sim_data_write(vmu, value);
}

void counting_card_set_masked(bool masked) {
    emu_vmu().masked = masked;
}

void counting_card_sleep(unsigned milliseconds) {
    emu_vmu().slept_ms += milliseconds;
}

// --- The real-time protocol card ------------------------------------------

bool realtime_card_acquire(std::uint16_t base) {
    if (!counting_card_acquire(base))
        return false;
    return emu_start_card_thread(emu_realtime_card().config.raise_tool,
                                 [] { vmu_realtime_start(emu_realtime_card(), emu_vmu()); });
}

void realtime_card_release() {
    if (emu_state.running) {
        vmu_realtime_stop(emu_realtime_card());
        port_hold_end(emu_state.hold);
        emu_state.running = false;
    }
    emu_vmu().released = true;
}

std::uint8_t realtime_card_read(std::uint16_t address) {
    if (address == emu_state.status_address)
        return vmu_realtime_read(emu_realtime_card());
    ++emu_realtime_card().tool_stray;
    return 0xFF;
}

void realtime_card_write(std::uint16_t address, std::uint8_t value) {
    if (address == emu_state.base) {
        vmu_realtime_write(emu_realtime_card(), value);
    } else {
        ++emu_realtime_card().tool_stray;
    }
}

// --- The counting processor card ------------------------------------------

bool counting_cpu_acquire(std::uint16_t base) {
    emu_take_base(base);
    return true;
}

void counting_cpu_release() {}

std::uint8_t counting_cpu_read(std::uint16_t address) {
    if (address != emu_state.status_address)
        return 0xFF;
    return cpu_card_status_read(*emu_state.cpu_card);
}

void counting_cpu_write(std::uint16_t address, std::uint8_t value) {
    if (address == emu_state.base)
        cpu_card_data_write(*emu_state.cpu_card, value);
}

void counting_cpu_set_masked(bool masked) {
    emu_state.cpu_card->masked = masked;
}

void counting_cpu_sleep(unsigned milliseconds) {
    cpu_card_sleep(*emu_state.cpu_card, milliseconds);
}

void counting_cpu_delay(unsigned floor_us) {
    cpu_card_delay(*emu_state.cpu_card, floor_us);
}

// --- The real-time processor card -----------------------------------------

bool realtime_cpu_acquire(std::uint16_t base) {
    emu_take_base(base);
    return emu_start_card_thread(true, [] {
        cpu_realtime_card().prepare_thread = priority_raise_for_good;
        cpu_realtime_start(cpu_realtime_card(), *emu_state.cpu_card);
    });
}

void realtime_cpu_release() {
    if (!emu_state.running)
        return;
    cpu_realtime_stop(cpu_realtime_card());
    port_hold_end(emu_state.hold);
    emu_state.running = false;
}

std::uint8_t realtime_cpu_read(std::uint16_t address) {
    if (address != emu_state.status_address)
        return 0xFF;
    // A port read takes time: the card's cycles per read, in µs at the
    // sender's clock, spent before the read.
    emu_spend_ns(std::int64_t{emu_state.cpu_card->cycles_per_read} * 1000);
    return cpu_realtime_read(cpu_realtime_card());
}

void realtime_cpu_write(std::uint16_t address, std::uint8_t value) {
    if (address == emu_state.base)
        cpu_realtime_write(cpu_realtime_card(), value);
}

// --- The eight records ------------------------------------------------------

const emu_mode counting_card_mode = {
    counting_card_acquire,    counting_card_release, counting_card_read, counting_card_write,
    counting_card_set_masked, counting_card_sleep,   host_delay_unit,
};
const emu_mode realtime_card_mode = {
    realtime_card_acquire,  realtime_card_release, realtime_card_read, realtime_card_write,
    emu_raise_while_masked, host_sleep_ms,         host_delay_unit,
};
const emu_mode counting_cpu_mode = {
    counting_cpu_acquire,    counting_cpu_release, counting_cpu_read,  counting_cpu_write,
    counting_cpu_set_masked, counting_cpu_sleep,   counting_cpu_delay,
};
const emu_mode realtime_cpu_mode = {
    realtime_cpu_acquire,   realtime_cpu_release, realtime_cpu_read, realtime_cpu_write,
    emu_raise_while_masked, host_sleep_ms,        host_delay_unit,
};
// The record in use: the counting protocol card until port_acquire chooses.
const emu_mode* chosen_mode = &counting_card_mode;

const emu_mode& configured_mode() {
    if (emu_state.receive != nullptr)
        return emu_state.realtime ? realtime_receive_mode : counting_receive_mode;
    if (emu_state.copy != nullptr)
        return emu_state.realtime ? realtime_copy_mode : counting_copy_mode;
    if (emu_state.cpu_card != nullptr)
        return emu_state.realtime ? realtime_cpu_mode : counting_cpu_mode;
    return emu_state.realtime ? realtime_card_mode : counting_card_mode;
}

}  // namespace

vmu_sim& emu_vmu() {
    static vmu_sim vmu;
    return vmu;
}

void emu_use_realtime(const vmu_realtime_config& config) {
    emu_state.realtime = true;
    emu_realtime_card().config = config;
    emu_realtime_card().config.prepare_thread = priority_raise_for_good;
}

void emu_use_cpu_card(vmu_cpu_card& card) {
    emu_state.cpu_card = &card;
}

void emu_use_copy_card(copy_card& card) {
    emu_state.copy = &card;
}

void emu_use_receive_card(copy_receive& card) {
    emu_state.receive = &card;
}

const vmu_realtime* emu_realtime_ran() {
    const vmu_realtime& rt = emu_realtime_card();
    return rt.card != nullptr && !rt.thread.joinable() ? &rt : nullptr;
}

bool port_acquire(std::uint16_t base) {
    if (emu_state.running)
        port_release();  // a card's thread from an earlier acquire
    chosen_mode = &configured_mode();
    return chosen_mode->acquire(base);
}

void port_release() {
    chosen_mode->release();
}

std::uint8_t port_read(std::uint16_t address) {
    return chosen_mode->read(address);
}

void port_write(std::uint16_t address, std::uint8_t value) {
    chosen_mode->write(address, value);
}

void mask_interrupts() {
    chosen_mode->set_masked(true);
}

void unmask_interrupts() {
    chosen_mode->set_masked(false);
}

void sleep_ms(unsigned milliseconds) {
    chosen_mode->sleep(milliseconds);
}

void port_delay_unit(unsigned floor_us) {
    chosen_mode->delay(floor_us);
}
