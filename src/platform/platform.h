// The platform seam: the only operations through which vmurx touches the
// machine. Every program links exactly one implementation of these functions
// (real hardware on Linux, or the software VMU), chosen at link time.
#pragma once

#include <cstdint>

/// Gains access to the data register (base) and the status register
/// (base + 1) of the parallel port at `base`. Returns false with errno set
/// when the system refuses; the caller reports errno to the user.
bool port_acquire(std::uint16_t base);

/// Gives up what port_acquire obtained. Called once, after the last register
/// write of the run.
void port_release();

/// Performs one real read of the register at `address` and returns the lines
/// as they are at that moment. Nothing is cached: the link counts reads as its
/// measure of time and must see every change of the peer's clock line.
std::uint8_t port_read(std::uint16_t address);

/// Writes `value` to the register at `address`, taking effect at once and in
/// call order (a data line and the clock are set in separate writes).
void port_write(std::uint16_t address, std::uint8_t value);

/// Protect the timing-critical stretches (a frame, and the gap from an
/// acknowledgement to the next frame's trailer) from pauses of the process.
/// Plain switches, not counted: masking twice and unmasking once leaves
/// interrupts unmasked. Neither may fail or make timing worse.
void mask_interrupts();
void unmask_interrupts();

/// Waits at least `milliseconds`.
void sleep_ms(unsigned milliseconds);

/// Iterations of the empty loop that makes one delay unit on a real machine.
inline constexpr unsigned DELAY_LOOPS = 10'766;

/// One delay unit of the link, the time the PC holds a level it sends on D0
/// and the lead before a sent byte, called for every unit in order. On a real
/// machine: DELAY_LOOPS iterations of an empty loop, then a spin on the
/// monotonic clock until at least `floor_us` has passed since the unit began
/// (0: the bare loop). A software card that counts time is told the unit
/// instead, and nothing need wait.
void port_delay_unit(unsigned floor_us);
