// The timers and the interrupt sources, between the step function and the
// registers. Not for callers of the model.
#pragma once

#include <cstdint>

#include "vmu/cpu/cpu.h"

/// Counts T0, T1 and the base timer on by `cycles`.
void timers_advance(vmu_cpu& cpu, unsigned cycles);

/// The vector of the interrupt due now, highest priority first; 0 for none.
/// Does not look at IE or at an interrupt being served.
std::uint16_t interrupt_due(const vmu_cpu& cpu);
