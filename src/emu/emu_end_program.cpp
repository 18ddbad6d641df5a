// vmurx-emu's end of the process, linked in place of the tool's own
// (main/end_program.cpp), as that file allows: the real-time card's report is
// an output like the received file, so a run whose report could not be
// written ends with status 1 even where the transfer succeeded. The reason
// went to standard error when the port was released.
#include <cstdlib>

#include "main/program.h"
#include "platform/emu/emu_platform.h"

void end_program(int status) {
    std::exit(status == 0 && emu_report_failed() ? 1 : status);
}
