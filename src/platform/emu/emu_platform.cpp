// The platform seam over the software VMU of src/vmu/: the seven functions
// and nothing else. Reads of the status register and writes of the data
// register go to the card; any other access is recorded as stray.
//
// Counting mode (the default, for the tests): the card advances one tick per
// status read, masking is a flag the card records with every access, and the
// sleep only counts.
//
// The processor card: the card running its own program on the processor
// model (vmu/cpu_card), counting the tool's accesses or, with real time, on
// its own thread paced by the clock. Accesses at another address are
// ignored; the tool never makes them.
//
// Real-time mode: the card runs on its own thread, and the registers are the
// atomics of vmu_realtime; a status read is one atomic load. Memory is
// locked, masking raises the polling thread's priority and the sleep sleeps,
// through platform/host as on real hardware. The card thread owns the vmu_sim
// record from port_acquire to port_release, so this side touches it only
// outside that stretch.
#include <sys/mman.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

#include "clock/monotonic_clock.h"
#include "files/file_error.h"
#include "platform/emu/emu_platform.h"
#include "platform/host/host_sleep.h"
#include "platform/host/process_priority.h"
#include "platform/platform.h"

namespace {

struct emu_backend {
    bool realtime = false;
    bool running = false;  // the card thread owns the card
    std::uint16_t base = 0;
    priority_plan priority;
    bool memory_locked = false;
    vmu_cpu_card* cpu_card = nullptr;
    bool cpu_running = false;  // the processor card's thread owns it
};

emu_backend backend;

vmu_realtime& realtime_card() {
    static vmu_realtime rt;
    return rt;
}

cpu_realtime& cpu_realtime_card() {
    static cpu_realtime rt;
    return rt;
}

// Starts a card's thread as on real hardware, where a page fault in a frame
// is a pause: memory locked and, where `raise_tool`, the tool's priority
// prepared first. On failure both are undone and errno tells why.
template <typename Start>
bool start_card_thread(bool raise_tool, Start start) {
    backend.memory_locked = lock_memory();
    if (raise_tool)
        priority_prepare(backend.priority);
    try {
        start();
    } catch (const std::system_error& failure) {
        priority_restore(backend.priority);
        if (backend.memory_locked)
            munlockall();
        backend.memory_locked = false;
        errno = failure.code().value();
        return false;
    }
    return true;
}

// The processor card in real time, the tool's priority prepared as for the
// real-time card.
bool start_cpu_realtime() {
    backend.cpu_running = start_card_thread(true, [] {
        cpu_realtime_card().prepare_thread = priority_raise_for_good;
        cpu_realtime_start(cpu_realtime_card(), *backend.cpu_card);
    });
    return backend.cpu_running;
}

}  // namespace

vmu_sim& emu_vmu() {
    static vmu_sim vmu;
    return vmu;
}

void emu_use_realtime(const vmu_realtime_config& config) {
    backend.realtime = true;
    realtime_card().config = config;
    realtime_card().config.prepare_thread = priority_raise_for_good;
}

void emu_use_cpu_card(vmu_cpu_card& card) {
    backend.cpu_card = &card;
}

bool port_acquire(std::uint16_t base) {
    if (backend.cpu_card != nullptr) {
        backend.base = base;
        return !backend.realtime || start_cpu_realtime();
    }
    vmu_sim& vmu = emu_vmu();
    if (backend.running)
        port_release();
    if (vmu.refuse_errno != 0) {
        errno = vmu.refuse_errno;
        return false;
    }
    backend.base = base;
    vmu.base = base;
    vmu.acquired = true;
    if (backend.realtime) {
        if (!start_card_thread(realtime_card().config.raise_tool,
                               [&vmu] { vmu_realtime_start(realtime_card(), vmu); }))
            return false;
        backend.running = true;
    }
    return true;
}

bool emu_report_failed() {
    return realtime_card().report_error.has_value();
}

void port_release() {
    if (backend.cpu_running) {
        cpu_realtime_stop(cpu_realtime_card());
        priority_restore(backend.priority);
        if (backend.memory_locked)
            munlockall();
        backend.memory_locked = false;
        backend.cpu_running = false;
        return;
    }
    if (backend.running) {
        vmu_realtime_stop(realtime_card());
        if (emu_report_failed()) {
            const file_error& error = *realtime_card().report_error;
            std::fprintf(stderr, "%s: --report %s: %s%s\n", program_invocation_short_name,
                         error.object.c_str(), error.reason.c_str(),
                         error.cause == file_failure::exists ? " (use --force to replace it)" : "");
        }
        priority_restore(backend.priority);
        if (backend.memory_locked)
            munlockall();
        backend.memory_locked = false;
        backend.running = false;
    }
    emu_vmu().released = true;
}

std::uint8_t port_read(std::uint16_t address) {
    if (backend.cpu_card != nullptr) {
        if (address != static_cast<std::uint16_t>(backend.base + 1))
            return 0xFF;
        if (backend.cpu_running) {
            // A port read takes time: the card's cycles per read, in µs at
            // the sender's clock, spent before the read.
            const std::int64_t until =
                monotonic_ns() + std::int64_t{backend.cpu_card->cycles_per_read} * 1000;
            while (monotonic_ns() < until) {
            }
            return cpu_realtime_read(cpu_realtime_card());
        }
        return cpu_card_status_read(*backend.cpu_card);
    }
    if (backend.running) {
        if (address == static_cast<std::uint16_t>(backend.base + 1))
            return vmu_realtime_read(realtime_card());
        ++realtime_card().tool_stray;
        return 0xFF;
    }
    vmu_sim& vmu = emu_vmu();
    if (address != static_cast<std::uint16_t>(vmu.base + 1)) {
        vmu.stray.push_back({address, false});
        return 0xFF;
    }
    return vmu_sim_status_read(vmu);
}

void port_write(std::uint16_t address, std::uint8_t value) {
    if (backend.cpu_card != nullptr) {
        if (address != backend.base)
            return;
        if (backend.cpu_running) {
            cpu_realtime_write(cpu_realtime_card(), value);
        } else {
            cpu_card_data_write(*backend.cpu_card, value);
        }
        return;
    }
    if (backend.running) {
        if (address == backend.base) {
            vmu_realtime_write(realtime_card(), value);
        } else {
            ++realtime_card().tool_stray;
        }
        return;
    }
    vmu_sim& vmu = emu_vmu();
    if (address != vmu.base) {
        vmu.stray.push_back({address, true});
        return;
    }
    vmu_sim_data_write(vmu, value);
}

void mask_interrupts() {
    if (backend.cpu_running) {
        priority_raise(backend.priority);
        return;
    }
    if (backend.cpu_card != nullptr) {
        backend.cpu_card->masked = true;
        return;
    }
    if (backend.running) {
        priority_raise(backend.priority);
        return;
    }
    emu_vmu().masked = true;
}

void unmask_interrupts() {
    if (backend.cpu_running) {
        priority_lower(backend.priority);
        return;
    }
    if (backend.cpu_card != nullptr) {
        backend.cpu_card->masked = false;
        return;
    }
    if (backend.running) {
        priority_lower(backend.priority);
        return;
    }
    emu_vmu().masked = false;
}

void sleep_ms(unsigned milliseconds) {
    if (backend.cpu_card != nullptr && !backend.realtime) {
        cpu_card_sleep(*backend.cpu_card, milliseconds);
        return;
    }
    if (!backend.realtime) {
        emu_vmu().slept_ms += milliseconds;
        return;
    }
    host_sleep_ms(milliseconds);
}
