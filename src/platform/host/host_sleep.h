// The sleep of the backends that run on a real machine: the seam's sleep_ms
// there, and whatever else must wait for real time.
#pragma once

/// Sleeps at least `milliseconds`, resuming after a signal.
void host_sleep_ms(unsigned milliseconds);
