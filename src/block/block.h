// Block reception: one block frame from the VMU with its reply and answer,
// the result codes it gives, and the fatal exit for a failed block.
#pragma once

#include <cstdint>

#include "cable/cable.h"

struct lpt_port;

/// An expected block code that accepts every block code.
inline constexpr int ANY_BLOCK_CODE = -1;

// Results of receive_block, and what check_result makes of them.
inline constexpr int RESULT_OK = 0;
inline constexpr int RESULT_TIMEOUT = 1;
inline constexpr int RESULT_ILLEGAL_REQUEST = 2;
inline constexpr int RESULT_VM_ABORT = 3;
inline constexpr int RESULT_PROTOCOL_ERROR = 4;
inline constexpr int RESULT_IO_ERROR = 5;
inline constexpr int RESULT_BLOCK_TOO_SHORT = 6;
inline constexpr int RESULT_WRONG_BLOCK = 7;
inline constexpr int RESULT_INTERNAL_ERROR = 8;

/// Receives one frame: header byte, HEADER_REPLY, block code, payload, trailer.
/// The first `payload_size` payload bytes go to `buffer`, the rest are read
/// and dropped. After the trailer the frame is checked in the order block
/// code, length, trailer byte. With `ack_mode` 1 the frame is answered with
/// BLOCK_ACK or BLOCK_NAK here; otherwise only a bad trailer is answered
/// (with BLOCK_NAK) and the caller answers the rest.
///
/// Interrupts are masked from entry until the trailer byte has been read, and
/// masked again before BLOCK_ACK, staying masked on return.
int receive_block(lpt_port& port, int payload_size, const int& expected_code, std::uint8_t* buffer,
                  int timeout, int ack_mode);

/// Returns if `result` is RESULT_OK. Otherwise ends the process: unmasks
/// interrupts, closes the port (printing the log), releases the file image,
/// writes the result's message on standard error and exits with status 1.
void check_result(int result);
