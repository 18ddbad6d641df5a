// The transfer sequence: from the VMU's ready signal to the stored file.
#pragma once

// Block codes of the frames of a transfer.
inline constexpr int BLOCK_CODE_START = 2;
inline constexpr int BLOCK_CODE_NAME = 6;
inline constexpr int BLOCK_CODE_DATA = 4;
inline constexpr int BLOCK_CODE_FLASH = 8;
inline constexpr int BLOCK_CODE_DIRECTORY = 3;

// File types in byte 0 of the start block.
inline constexpr int TYPE_GAME = 0xCC;
inline constexpr int TYPE_DATA = 0x33;

/// Receives one file over the opened `vmu_port` and stores it under
/// `name_option`, or under the VMU's own name when it is null. Never returns:
/// exits with status 0 after a complete transfer and 1 after any failure.
[[noreturn]] void run_transfer(const char* name_option);
