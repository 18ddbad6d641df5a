// The software VMU as a backend of the platform seam: the program's port is
// the one simulated card returned here.
#pragma once

#include "vmu_sim.h"

/// The card behind the port. Configure it before the port is opened; read
/// what it recorded afterwards.
vmu_sim& emu_vmu();
