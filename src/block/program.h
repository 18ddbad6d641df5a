// Program-wide state: what the command line set, the file image and the one
// port, and the way the tool ends the process. They are program-wide because
// the fatal exit of block/ closes the port, releases the image and ends the
// process; they live here, beside it, so that main/ sets them from above and
// every include of the core points down.
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

/// Ends the process with `status`: calls the program end in use, which ends
/// the process or unwinds from it, and exits with `status` through std::exit
/// (which flushes and closes every stream) if it returns. Every exit of the
/// tool goes through here.
[[noreturn]] void end_program(int status);

/// What end_program calls. Set once at start-up, before vmurx_main; a null
/// function puts the tool's own back, std::exit. vmurx-emu sets one that
/// also fails a run whose card report could not be written; the fuzz target
/// one that unwinds to its harness, so that one process runs the tool again
/// and again.
using program_end = void (*)(int status);
void set_program_end(program_end end);

/// Frees the file image, if there is one.
void release_file_buffer();

/// Flushes standard output, keeping errno, before a message on standard
/// error: the two streams then keep their order when they go to one place,
/// and a perror after it still reports the failure that came before.
void flush_before_error();
