// Definitions of the program-wide state.
#include "main/program.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

const char* device_name = "LPT1:";
int verbose = 0;
std::uint8_t* file_buffer = nullptr;
lpt_port vmu_port{};

void release_file_buffer() {
    std::free(file_buffer);
    file_buffer = nullptr;
}

void flush_before_error() {
    const int saved_errno = errno;
    std::fflush(stdout);
    errno = saved_errno;
}
