// The tool's entry function.
#pragma once

/// Parses the command line, opens the port and runs one transfer. Never
/// returns: ends the process through end_program with status 0 after a
/// complete transfer and 1 after any failure.
int vmurx_main(int argc, char* argv[]);
