// The platform seam over the software cards of src/vmu/: the eight functions
// and nothing else. Every card is a soft_card (vmu/soft_card.h: the scripted
// protocol card, the card's own Copy, the card receiving, the processor
// card), run in one of two ways, each a record of operations chosen when the
// port is acquired; each function of the seam calls the chosen record's and
// does nothing else. Until the first port_acquire the counting record runs
// the scripted card, the backend's own, which is the card behind the port
// whenever the program has put no other there.
//
// Counting: each of the PC's operations goes to the card at the card's
// present time, which moves by what the operation costs; every delay unit is
// told to the card, unless the card's time is its status reads (the scripted
// card), when the unit waits as on a real machine. An access at another
// address is told to the card as stray.
//
// In real time: the card on the thread of vmu/card_realtime.h, paced by the
// clock; the registers are the runner's atomics, a status read is one atomic
// load (after what a port's read costs, where the card says it costs
// something), a data write one store into the ring. The port is held as on a
// real machine (platform/host: memory locked, the raise prepared), masking
// raises the polling thread's priority, the sleep sleeps and the delay unit
// waits. The card's thread owns the card from port_acquire to port_release,
// so this side touches it only outside that stretch.
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

// The scripted card, behind the port when no other card is.
vmu_sim_soft scripted_card;

struct emu_backend {
    // What the program asked for before the port was opened.
    bool realtime = false;
    vmu_realtime_config realtime_config;
    std::unique_ptr<soft_card> card;  // the card run instead of the scripted card

    soft_card* current = &scripted_card;  // the card the PC's accesses reach
    std::uint16_t base = 0;
    std::uint16_t status_address = 1;
    port_hold hold;                 // the real-time cards' hold, as on a real machine
    bool running = false;           // a card's thread owns the card
    std::int64_t read_cost_ns = 0;  // in real time: what a port's read costs
    std::uint64_t stray = 0;        // in real time: accesses at another address
    bool scripted_ran = false;      // the scripted card's real-time run is over
};

emu_backend emu_state;

// The thread of every card in real time.
card_realtime& card_thread() {
    static card_realtime rt;
    return rt;
}

// The card the port is acquired for, its base taken; 0, or the errno with
// which the acquire fails.
int take_card(std::uint16_t base) {
    soft_card& card = *emu_state.current;
    if (const int refused = card.acquire(base); refused != 0)
        return refused;
    emu_state.base = base;
    emu_state.status_address = static_cast<std::uint16_t>(base + 1);
    card.start();
    return 0;
}

// --- Counting -----------------------------------------------------------------

bool counting_acquire(std::uint16_t base) {
    if (const int refused = take_card(base); refused != 0) {
        errno = refused;
        return false;
    }
    return true;
}

void counting_release() {
    emu_state.current->release();
}

std::uint8_t counting_read(std::uint16_t address) {
    soft_card& card = *emu_state.current;
    if (address != emu_state.status_address) {
        card.stray(address, false);
        return 0xFF;
    }
    return card.status_read();
}

void counting_write(std::uint16_t address, std::uint8_t value) {
    soft_card& card = *emu_state.current;
    if (address != emu_state.base) {
        card.stray(address, true);
        return;
    }
    card.data_write(value);
}

void counting_set_masked(bool masked) {
    emu_state.current->set_masked(masked);
}

void counting_sleep(unsigned milliseconds) {
    emu_state.current->sleep(milliseconds);
}

void counting_delay(unsigned floor_us) {
    soft_card& card = *emu_state.current;
    if (card.waits_delay()) {
        host_delay_unit(floor_us);
    } else {
        card.delay(floor_us);
    }
}

// --- In real time ---------------------------------------------------------------

// Starts the card's thread on a held port: a page fault in a frame is a
// pause, as on real hardware, so memory is locked first and, where the
// configuration asks, the tool's raise prepared. On failure the hold is
// undone and errno tells why.
bool realtime_acquire(std::uint16_t base) {
    if (const int refused = take_card(base); refused != 0) {
        errno = refused;
        return false;
    }
    soft_card& card = *emu_state.current;
    card.reserve();
    emu_state.read_cost_ns = card.read_cost() / PS_PER_NS;
    emu_state.stray = 0;
    if (emu_state.current == &scripted_card)
        emu_state.scripted_ran = false;
    port_hold_begin(emu_state.hold, {.raise = emu_state.realtime_config.raise_tool, .pin = false});
    try {
        card_thread().prepare_thread = priority_raise_for_good;
        card_realtime_start(card_thread(), card);
    } catch (const std::system_error& failure) {
        port_hold_end(emu_state.hold);
        errno = failure.code().value();
        return false;
    }
    emu_state.running = true;
    return true;
}

void realtime_release() {
    if (emu_state.running) {
        card_realtime_stop(card_thread());
        port_hold_end(emu_state.hold);
        emu_state.running = false;
        if (emu_state.current == &scripted_card) {
            // The scripted card's report takes the runner's figures too.
            vmu_realtime_result& result = scripted_card.result;
            result.status_reads = card_thread().tool_reads;
            result.longest_pause_ns = card_thread().longest_lag_ns;
            result.ring_overrun = card_thread().ring_overrun;
            result.stray_accesses = emu_state.stray;
            emu_state.scripted_ran = true;
        }
    }
    emu_state.current->release();
}

std::uint8_t realtime_read(std::uint16_t address) {
    if (address != emu_state.status_address) {
        ++emu_state.stray;
        return 0xFF;
    }
    // A port read takes time, spent before the read.
    if (emu_state.read_cost_ns > 0) {
        const std::int64_t until = monotonic_ns() + emu_state.read_cost_ns;
        while (monotonic_ns() < until) {
        }
    }
    return card_realtime_read(card_thread());
}

void realtime_write(std::uint16_t address, std::uint8_t value) {
    if (address == emu_state.base) {
        card_realtime_write(card_thread(), value);
    } else {
        ++emu_state.stray;
    }
}

// Masking on a held port: the polling thread's raise.
void raise_while_masked(bool masked) {
    if (masked) {
        priority_raise(emu_state.hold.priority);
    } else {
        priority_lower(emu_state.hold.priority);
    }
}

// --- The two records --------------------------------------------------------------

const emu_mode counting_mode = {
    counting_acquire,    counting_release, counting_read,  counting_write,
    counting_set_masked, counting_sleep,   counting_delay,
};
const emu_mode realtime_mode = {
    realtime_acquire,   realtime_release, realtime_read,   realtime_write,
    raise_while_masked, host_sleep_ms,    host_delay_unit,
};
// The record in use: counting until port_acquire chooses.
const emu_mode* chosen_mode = &counting_mode;

}  // namespace

vmu_sim& emu_vmu() {
    return scripted_card.vmu;
}

void emu_use_realtime(const vmu_realtime_config& config) {
    emu_state.realtime = true;
    emu_state.realtime_config = config;
    scripted_card.config = config;
}

void emu_use_card(std::unique_ptr<soft_card> card) {
    // The card replaced may still be behind a held port: a thread that runs
    // it is stopped first, and until the next port_acquire the PC's accesses
    // reach the scripted card, counting, never a card that is gone.
    if (emu_state.running)
        port_release();
    chosen_mode = &counting_mode;
    emu_state.current = &scripted_card;
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

const vmu_sim_soft* emu_realtime_ran() {
    return emu_state.scripted_ran ? &scripted_card : nullptr;
}

bool port_acquire(std::uint16_t base) {
    if (emu_state.running)
        port_release();  // a card's thread from an earlier acquire
    emu_state.current = emu_state.card != nullptr ? emu_state.card.get() : &scripted_card;
    chosen_mode = emu_state.realtime ? &realtime_mode : &counting_mode;
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
