// Program-wide state: what the command line set, the file image and the one
// port. They are program-wide because the fatal exit closes the port and
// releases the image.
#pragma once

#include <cstdint>

#include "lpt/lpt.h"

/// The port to open: "LPT1:" unless -d names another.
extern const char* device_name;
/// Set by -v: progress messages on standard output.
extern int verbose;
/// The received file image; null until the start block has been accepted.
extern std::uint8_t* file_buffer;
/// The port the VMU is connected to.
extern lpt_port vmu_port;

/// Ends the process with `status` through std::exit, which flushes and
/// closes every stream. Every exit of the tool goes through here.
[[noreturn]] void end_program(int status);

/// Frees the file image, if there is one.
void release_file_buffer();

/// Flushes standard output, keeping errno, before a message on standard
/// error: the two streams then keep their order when they go to one place,
/// and a perror after it still reports the failure that came before.
void flush_before_error();
