// The single fatal exit for a failed block.
#include <cstdio>

#include "block/block.h"
#include "block/program.h"
#include "lpt/lpt.h"
#include "platform/platform.h"

namespace {

const char* result_message(int result) {
    switch (result) {
        case RESULT_TIMEOUT:
            return "Error: Timeout\n";
        case RESULT_ILLEGAL_REQUEST:
            return "Error: Illegal request, please send bug-report\n";
        case RESULT_VM_ABORT:
            return "Error: VM wishes to abort\n";
        case RESULT_PROTOCOL_ERROR:
            return "Error: Protocol error\n";
        case RESULT_BLOCK_TOO_SHORT:
            return "Error: Block too short, aborted\n";
        case RESULT_WRONG_BLOCK:
            return "Error: Wrong block, aborted\n";
        case RESULT_INTERNAL_ERROR:
            return "Error: Internal error, please send bug-report\n";
        default:
            return "Error: Unknown error, please send bug-report\n";
    }
}

}  // namespace

void check_result(int result) {
    if (result == RESULT_OK)
        return;

    unmask_interrupts();
    lpt_close(vmu_port);
    release_file_buffer();
    if (verbose)
        std::fputs("\n", stdout);
    flush_before_error();
    if (result == RESULT_IO_ERROR) {
        std::perror("Error");
    } else {
        std::fputs(result_message(result), stderr);
    }
    end_program(1);
}
