// The command line and start-up: options, the operand check and opening the
// port, then the transfer, which ends the process.
#include "main/vmurx.h"

#include <getopt.h>

#include <cstdio>
#include <cstdlib>

#include "lpt/byte_exchange.h"
#include "block/program.h"
#include "main/transfer.h"

namespace {

[[noreturn]] void usage(const char* program) {
    std::fprintf(stderr, "Usage: %s [OPTIONS]\n", program);
    std::fputs("Receive a file from a Sega Dreamcast VM\n", stderr);
    std::fputs("Version 1.1\n", stderr);
    std::fputs("\n", stderr);
    std::fputs("  -d device  set device where the VMU is connected\n", stderr);
    std::fputs("  -n name    filename to use\n", stderr);
    std::fputs("  -v         verbose\n", stderr);
    std::fputs("  -h         This help text\n", stderr);
    end_program(1);
}

[[noreturn]] void fail_with_errno(const char* text) {
    flush_before_error();
    std::perror(text);
    end_program(1);
}

}  // namespace

int vmurx_main(int argc, char* argv[]) {
    const char* name_option = nullptr;
    int option;
    while ((option = getopt(argc, argv, "d:hn:v")) != -1) {
        switch (option) {
            case 'd':
                device_name = optarg;
                break;
            case 'n':
                name_option = optarg;
                break;
            case 'v':
                verbose = 1;
                break;
            case 'h':
                usage(argv[0]);
            case '?':
                end_program(1);  // getopt has reported it
            default:
                fail_with_errno("Problem with getopt");
        }
    }
    if (optind != argc) {
        std::fputs("Error: Additional file parameter\n", stderr);
        end_program(1);
    }
    // Read once, after the command line (so that -h and its errors stay as
    // they are) and before the port is touched.
    if (const char* floor_text = std::getenv(DELAY_FLOOR_VARIABLE)) {
        unsigned floor_us = 0;
        if (!parse_delay_floor(floor_text, floor_us)) {
            std::fputs(
                "Error: VMURX_DELAY_US must be a whole number of microseconds from 0 to 10000\n",
                stderr);
            end_program(1);
        }
        set_delay_floor_us(floor_us);
    }
    if (lpt_open(device_name, vmu_port) != 1)
        fail_with_errno("Can't open serial port");
    run_transfer(name_option);
}
