// The platform seam over the software cards of src/vmu/: the eight functions
// and nothing else. Each way to run a card is one record of operations,
// chosen when the port is acquired; each function of the seam calls the
// chosen record's and does nothing else. Until the first port_acquire the
// counting protocol card is the one in use.
//
// The counting protocol card (the default, for the tests): the card advances
// one tick per status read, masking is a flag the card records with every
// access, and the sleep only counts. Reads of the status register and writes
// of the data register go to the card; any other access is recorded as
// stray. The card does not see the PC's delay unit, which waits as on a real
// machine.
//
// The real-time protocol card: the card runs on its own thread, and the
// registers are the atomics of vmu_realtime; a status read is one atomic
// load. The port is held as on a real machine (platform/host: memory locked,
// the raise prepared), masking raises the polling thread's priority and the
// sleep sleeps. The card thread owns the vmu_sim record from port_acquire to
// port_release, so this side touches it only outside that stretch.
//
// Every other card is a soft_card (vmu/soft_card.h: the card's own Copy, the
// card receiving, the processor card), run in one of two ways. Counting: the
// card's time moves by what each of the PC's operations costs, every delay
// unit told to the card, and nothing waits. In real time: the card on the
// thread of vmu/card_realtime.h, paced by the clock, held as the real-time
// protocol card is, a status read spending what a port's read costs first,
// and the delay unit waiting as on a real machine. Accesses at another
// address are ignored; the tool never makes them.
#include <cerrno>
#include <memory>
#include <system_error>

#include "clock/monotonic_clock.h"
#include "platform/emu/emu_platform.h"
#include "platform/host/host_delay.h"
#include "platform/host/host_sleep.h"
#include "platform/host/port_hold.h"
#include "platform/platform.h"

namespace {

/// What the seam's functions do with one way to run a card.
struct emu_mode {
    bool (*acquire)(std::uint16_t base);
    void (*release)();
    std::uint8_t (*read)(std::uint16_t address);
    void (*write)(std::uint16_t address, std::uint8_t value);
    void (*set_masked)(bool masked);
    void (*sleep)(unsigned milliseconds);
    void (*delay)(unsigned floor_us);
};

struct emu_backend {
    // What the program asked for before the port was opened.
    bool realtime = false;
    std::unique_ptr<soft_card> card;  // the card run instead of the protocol card

    std::uint16_t base = 0;
    std::uint16_t status_address = 1;
    port_hold hold;        // the real-time cards' hold, as on a real machine
    bool running = false;  // a card's thread owns the card
};

emu_backend emu_state;

vmu_realtime& emu_realtime_card() {
    static vmu_realtime rt;
    return rt;
}

// The thread of every soft_card in real time.
card_realtime& soft_card_thread() {
    static card_realtime rt;
    return rt;
}

void emu_take_base(std::uint16_t base) {
    emu_state.base = base;
    emu_state.status_address = static_cast<std::uint16_t>(base + 1);
}

// Starts a card's thread on a held port, by `start`: a page fault in a frame
// is a pause, as on real hardware, so memory is locked first and, where the
// configuration asks, the tool's raise prepared. On failure the hold is
// undone and errno tells why.
bool start_card_thread(void (*start)()) {
    port_hold_begin(emu_state.hold, {.raise = emu_realtime_card().config.raise_tool, .pin = false});
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

// Masking for the cards on a thread: the polling thread's raise.
void raise_while_masked(bool masked) {
    if (masked) {
        priority_raise(emu_state.hold.priority);
    } else {
        priority_lower(emu_state.hold.priority);
    }
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
    return start_card_thread([] { vmu_realtime_start(emu_realtime_card(), emu_vmu()); });
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

// --- Every other card, counting ---------------------------------------------

bool counting_soft_acquire(std::uint16_t base) {
    emu_take_base(base);
    emu_state.card->start();
    return true;
}

void counting_soft_release() {}

std::uint8_t counting_soft_read(std::uint16_t address) {
    if (address != emu_state.status_address)
        return 0xFF;
    return emu_state.card->status_read();
}

void counting_soft_write(std::uint16_t address, std::uint8_t value) {
    if (address == emu_state.base)
        emu_state.card->data_write(value);
}

void counting_soft_set_masked(bool masked) {
    emu_state.card->set_masked(masked);
}

void counting_soft_sleep(unsigned milliseconds) {
    emu_state.card->sleep(milliseconds);
}

void counting_soft_delay(unsigned floor_us) {
    emu_state.card->delay(floor_us);
}

// --- Every other card, in real time -----------------------------------------

bool realtime_soft_acquire(std::uint16_t base) {
    emu_take_base(base);
    emu_state.card->start();
    emu_state.card->reserve();
    return start_card_thread([] {
        soft_card_thread().prepare_thread = priority_raise_for_good;
        card_realtime_start(soft_card_thread(), *emu_state.card);
    });
}

void realtime_soft_release() {
    if (!emu_state.running)
        return;
    card_realtime_stop(soft_card_thread());
    port_hold_end(emu_state.hold);
    emu_state.running = false;
}

std::uint8_t realtime_soft_read(std::uint16_t address) {
    if (address != emu_state.status_address)
        return 0xFF;
    // A port read takes time, spent before the read.
    const std::int64_t until = monotonic_ns() + emu_state.card->read_cost() / 1000;
    while (monotonic_ns() < until) {
    }
    return card_realtime_read(soft_card_thread());
}

void realtime_soft_write(std::uint16_t address, std::uint8_t value) {
    if (address == emu_state.base)
        card_realtime_write(soft_card_thread(), value);
}

// --- The four records -------------------------------------------------------

const emu_mode counting_card_mode = {
    counting_card_acquire,    counting_card_release, counting_card_read, counting_card_write,
    counting_card_set_masked, counting_card_sleep,   host_delay_unit,
};
const emu_mode realtime_card_mode = {
    realtime_card_acquire, realtime_card_release, realtime_card_read, realtime_card_write,
    raise_while_masked,    host_sleep_ms,         host_delay_unit,
};
const emu_mode counting_soft_mode = {
    counting_soft_acquire,    counting_soft_release, counting_soft_read,  counting_soft_write,
    counting_soft_set_masked, counting_soft_sleep,   counting_soft_delay,
};
const emu_mode realtime_soft_mode = {
    realtime_soft_acquire, realtime_soft_release, realtime_soft_read, realtime_soft_write,
    raise_while_masked,    host_sleep_ms,         host_delay_unit,
};
// The record in use: the counting protocol card until port_acquire chooses.
const emu_mode* chosen_mode = &counting_card_mode;

const emu_mode& configured_mode() {
    if (emu_state.card != nullptr)
        return emu_state.realtime ? realtime_soft_mode : counting_soft_mode;
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

void emu_use_card(std::unique_ptr<soft_card> card) {
    // The card replaced may still be behind a held port: a thread that runs
    // it is stopped first, and until the next port_acquire the PC's accesses
    // reach the scripted card, never a card that is gone.
    if (emu_state.running)
        port_release();
    chosen_mode = &counting_card_mode;
    emu_state.card = std::move(card);
}

void emu_use_cpu_card(vmu_cpu_card& card) {
    emu_use_card(std::make_unique<cpu_card_soft>(card));
}

void emu_use_copy_card(copy_card& card) {
    emu_use_card(std::make_unique<copy_card_soft>(card));
}

void emu_use_receive_card(copy_receive& card) {
    emu_use_card(std::make_unique<copy_receive_soft>(card));
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
