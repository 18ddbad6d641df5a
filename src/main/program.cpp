// Definitions of the program-wide state.
#include "main/program.h"

#include <cstdlib>

const char* device_name = "LPT1:";
int verbose = 0;
std::uint8_t* file_buffer = nullptr;
lpt_port vmu_port{};

void release_file_buffer() {
    std::free(file_buffer);
    file_buffer = nullptr;
}
