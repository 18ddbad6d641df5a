// end_program for the fuzz targets: instead of exiting, it unwinds to the
// harness with the status. Linked ahead of vmurx_core, this definition is the
// one the tool's calls reach, and the core's own end_program.cpp is never
// pulled from the library.
//
// std::exit would also flush the standard streams; the harness sends the
// tool's output to /dev/null, so only the flush is done here.
#include <cstdio>

#include "main/program.h"
#include "program_ended.h"

void end_program(int status) {
    std::fflush(stdout);
    throw program_ended{status};
}
