// The one way the tool ends the process. It sits alone in its file so that a
// program linking vmurx_core can put its own definition in place of this one
// at link time (the fuzz targets return to their harness instead of exiting);
// the tool itself always links this one.
#include <cstdlib>

#include "main/program.h"

void end_program(int status) {
    std::exit(status);
}
