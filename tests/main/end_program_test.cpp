// The tool's end as a program sets it (set_program_end): every way vmurx_main
// ends, from a refused command line to a complete transfer, calls it once
// with the tool's status, and nothing ends the process behind its back. Run
// in this process against the software VMU, with an end that unwinds back to
// the test. An end that returns still ends the process with the status, and
// a null end puts std::exit back.
#include <getopt.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "block/program.h"
#include "lpt/byte_exchange.h"
#include "main/vmurx.h"
#include "platform/emu/emu_platform.h"

namespace {

struct program_ended {
    int status;
};

void end_by_unwinding(int status) {
    throw program_ended{status};
}

enum class card_sends { nothing, a_file, a_broken_frame, a_file_of_no_type };

// Puts a one-block file, or what `sends` makes of it, on the card.
void script_card(vmu_sim& card, card_sends sends) {
    if (sends == card_sends::nothing)
        return;
    vmu_file file;
    file.image.assign(512, 0xA5);
    file.name = "END_TEST";
    if (sends == card_sends::a_file_of_no_type)
        file.type = 0x00;
    card.frames = vmu_transfer_frames(file);
    if (sends == card_sends::a_broken_frame)
        card.frames[0].trailer = 0x55;
}

// Back to the program's state at start-up, as a new process would have it.
void reset_program_state() {
    device_name = "LPT1:";
    verbose = 0;
    release_file_buffer();
    vmu_port = lpt_port{};
    echo_byte = ECHO_INITIAL;
    optind = 0;  // glibc: a full restart of getopt's scan
    emu_vmu() = vmu_sim{};
}

// Runs the tool with `arguments` in a scratch directory and returns the
// status its end was called with, or -1 when vmurx_main returned.
int run_tool(std::vector<std::string> arguments) {
    const std::filesystem::path previous = std::filesystem::current_path();
    std::string scratch = (std::filesystem::temp_directory_path() / "vmurx-end-XXXXXX").string();
    EXPECT_NE(mkdtemp(scratch.data()), nullptr);
    std::filesystem::current_path(scratch);

    arguments.insert(arguments.begin(), "vmurx");
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    int status = -1;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    try {
        vmurx_main(static_cast<int>(arguments.size()), argv.data());
    } catch (const program_ended& ended) {
        status = ended.status;
    }
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();

    std::filesystem::current_path(previous);
    std::filesystem::remove_all(scratch);
    return status;
}

TEST(ProgramEnd, EveryWayTheToolEndsCallsTheEndOnceWithItsStatus) {
    const struct {
        const char* what;
        std::vector<std::string> arguments;
        const char* floor_text;  // VMURX_DELAY_US, or null
        int refuse_errno;
        card_sends sends;
        int status;
    } cases[] = {
        {"help", {"-h"}, nullptr, 0, card_sends::nothing, 1},
        {"unknown option", {"-x"}, nullptr, 0, card_sends::nothing, 1},
        {"operand", {"file"}, nullptr, 0, card_sends::nothing, 1},
        {"floor not a number", {}, "soon", 0, card_sends::nothing, 1},
        {"unknown port", {"-d", "com1"}, nullptr, 0, card_sends::nothing, 1},
        {"refused port", {}, nullptr, EACCES, card_sends::nothing, 1},
        {"failed block", {}, nullptr, 0, card_sends::a_broken_frame, 1},
        {"refused file type", {}, nullptr, 0, card_sends::a_file_of_no_type, 1},
        {"complete transfer", {"-v"}, nullptr, 0, card_sends::a_file, 0},
    };
    set_program_end(end_by_unwinding);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reset_program_state();
        vmu_sim& card = emu_vmu();
        card.refuse_errno = c.refuse_errno;
        script_card(card, c.sends);
        if (c.floor_text != nullptr)
            setenv(DELAY_FLOOR_VARIABLE, c.floor_text, 1);
        EXPECT_EQ(run_tool(c.arguments), c.status);
        unsetenv(DELAY_FLOOR_VARIABLE);
    }
    set_program_end(nullptr);
    reset_program_state();
}

void end_by_returning(int) {}

TEST(ProgramEnd, AnEndThatReturnsOrNoEndStillEndsTheProcessWithTheStatus) {
    set_program_end(end_by_returning);
    EXPECT_EXIT(end_program(3), testing::ExitedWithCode(3), "");
    set_program_end(nullptr);
    EXPECT_EXIT(end_program(4), testing::ExitedWithCode(4), "");
}

}  // namespace
