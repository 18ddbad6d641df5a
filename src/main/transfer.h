// The transfer sequence: from the VMU's ready signal to the stored file.
#pragma once

#include "cable/cable.h"

/// Receives one file over the opened `vmu_port` and stores it under
/// `name_option`, or under the VMU's own name when it is null. Never returns:
/// exits with status 0 after a complete transfer and 1 after any failure.
[[noreturn]] void run_transfer(const char* name_option);
