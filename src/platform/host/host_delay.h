// The link's delay unit on a real machine: the seam's port_delay_unit there,
// and what a software card in real time waits as a real port would.
#pragma once

/// DELAY_LOOPS iterations of an empty loop, whose length follows the speed
/// of the processor.
void host_delay_loop();

/// host_delay_loop, then, when less than `floor_us` has passed since the
/// unit began, a spin on the monotonic clock until it has. No sleep and no
/// system call where the C library reads the clock in user space.
void host_delay_unit(unsigned floor_us);
