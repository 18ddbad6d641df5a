// Definitions of the program-wide state, and the end of the process.
#include "block/program.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

const char* device_name = "LPT1:";
int verbose = 0;
std::uint8_t* file_buffer = nullptr;
lpt_port vmu_port{};

namespace {

void exit_process(int status) {
    std::exit(status);
}

program_end end_in_use = exit_process;

}  // namespace

void end_program(int status) {
    end_in_use(status);
    std::exit(status);
}

void set_program_end(program_end end) {
    end_in_use = end != nullptr ? end : exit_process;
}

void release_file_buffer() {
    std::free(file_buffer);
    file_buffer = nullptr;
}

void flush_before_error() {
    const int saved_errno = errno;
    std::fflush(stdout);
    errno = saved_errno;
}
