// Fuzz target for the cable: the fuzzer's bytes decide what the software
// card sends (headers, block codes, payload lengths and bytes, trailers, the
// name, the directory stamp, the start block's type and size) and how it
// misbehaves (late or no ready signal, a stall at any bit, frames dropped,
// repeated or not waiting for the PC, raw status values at chosen reads).
// The whole tool then runs through vmurx_core against that card, in a fresh
// directory, and what must always hold is checked:
//
// - nothing appears outside the run's directory, and at most one new entry,
//   a regular file, inside it;
// - whatever stood in the way of the output (a file, a symbolic link to a
//   file outside, a dangling link, a directory) is left exactly as it was;
// - status 0 only with a file of exactly blocks x 512 bytes that holds the
//   card's bytes under the name the card (or -n) gave, as an independent
//   model of the protocol reads them off the card's script;
// - any other status is 1 and leaves at most an empty file;
// - the port is released if it was acquired, and the PC never touched a
//   register other than the two of the link nor broke the line rules.
//
// A broken rule aborts with a message, so that libFuzzer keeps the input.
//
// The input's layout is in cable_case.h; the checks are in cable_check.cpp.
#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "block/program.h"
#include "cable_case.h"
#include "cable_check.h"
#include "cable_model.h"
#include "cable_port.h"
#include "lpt/byte_exchange.h"
#include "lpt/lpt.h"
#include "main/vmurx.h"

using namespace cable_fuzz;

namespace {

int start_directory = -1;  // libFuzzer's paths are relative to it

// The tool's end: instead of exiting, it unwinds to the harness with the
// status, so that one process can run the tool again and again and look at
// what each run left behind. std::exit would also flush the standard
// streams; the harness sends the tool's output to /dev/null, so only the
// flush is done here.
struct program_ended {
    int status;
};

void end_by_unwinding(int status) {
    std::fflush(stdout);
    throw program_ended{status};
}

// The link's busy-wait delay paces the PC's own bits for a real card; the
// software card counts time in status reads and never sees it. Without it a
// run is hundreds of times faster, and the tool's behaviour is the same.
void no_delay() {}

// Back to the program's state at start-up, as a new process would have it.
void reset_program_state() {
    device_name = "LPT1:";
    verbose = 0;
    release_file_buffer();
    std::memset(&vmu_port, 0, sizeof vmu_port);
    echo_byte = ECHO_INITIAL;
    optind = 0;  // glibc: a full restart of getopt's scan
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Keep a way to report, then send the tool's own output to /dev/null.
    set_program_end(end_by_unwinding);
    set_delay_function(no_delay);
    report_fd = dup(2);
    start_directory = open(".", O_RDONLY | O_DIRECTORY);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);

    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vmurx-cable-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("cable fuzz: mkdtemp");
        std::exit(1);
    }
    root = pattern;
    std::atexit([] {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const cable_case c = decode(data, size);

    const fs::path run = root / "run";
    for (const fs::directory_entry& entry : fs::directory_iterator(root))
        fs::remove_all(entry.path());
    fs::create_directory(run);
    // The name the tool will try: -n's, or the one of the name block the card
    // holds.
    std::vector<std::uint8_t> name_block;
    if (c.card.frames.size() > 1)
        name_block = c.card.frames[1].payload;
    const std::string blocker = c.in_the_way == obstacle::none ? ""
                                : c.named                      ? "out.bin"
                                                               : name_from_block(name_block);
    if (!blocker.empty())
        place(c.in_the_way, run, blocker);

    reset_program_state();
    port = fuzz_port{c.card, c.glitches, 0};
    std::vector<std::string> arguments{"vmurx"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    const std::set<int> descriptors = open_descriptors();
    if (chdir(run.c_str()) != 0)
        broken("cannot enter the run's directory");
    int status = -1;
    try {
        vmurx_main(static_cast<int>(arguments.size()), argv.data());
    } catch (const program_ended& ended) {
        status = ended.status;
    }
    if (fchdir(start_directory) != 0)
        broken("cannot return to the starting directory");
    // A failed transfer leaves its output stream for the process exit to
    // close; here the process goes on, so the descriptor is closed instead.
    for (int descriptor : open_descriptors()) {
        if (descriptors.count(descriptor) == 0)
            close(descriptor);
    }

    check_run(c, status, run, blocker);
    return 0;
}
