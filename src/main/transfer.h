// The transfer sequence: from the VMU's ready signal to the stored file.
#pragma once

#include "cable/cable.h"

// Block codes of the frames of a transfer.
inline constexpr int BLOCK_CODE_START = CABLE_CODE_START;
inline constexpr int BLOCK_CODE_NAME = CABLE_CODE_NAME;
inline constexpr int BLOCK_CODE_DATA = CABLE_CODE_DATA;
inline constexpr int BLOCK_CODE_FLASH = CABLE_CODE_FLASH;
inline constexpr int BLOCK_CODE_DIRECTORY = CABLE_CODE_DIRECTORY;

// File types in byte 0 of the start block.
inline constexpr int TYPE_GAME = CABLE_TYPE_GAME;
inline constexpr int TYPE_DATA = CABLE_TYPE_DATA;

/// Receives one file over the opened `vmu_port` and stores it under
/// `name_option`, or under the VMU's own name when it is null. Never returns:
/// exits with status 0 after a complete transfer and 1 after any failure.
[[noreturn]] void run_transfer(const char* name_option);
