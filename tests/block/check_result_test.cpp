// check_result, the one exit for a failed block: for every result code the
// message on standard error and status 1, after the port has been closed (its
// log printed) and, with -v, a line end written, also in that order when both
// streams go to one file; interrupts unmasked, D3 lowered and the image
// released on the way. RESULT_OK returns and touches nothing.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "block/block.h"
#include "block/program.h"
#include "platform/emu/emu_platform.h"
#include "platform/platform.h"

namespace {

struct exit_report {
    int status = -1;
    std::string out, err, both;  // `both`: stdout and stderr into one file
};

// Appended to stdout at exit, after everything check_result wrote: the mask,
// the image, the port's release and its last data write (value, mask).
void report_at_exit() {
    const vmu_sim& vmu = emu_vmu();
    const vmu_data_write last = vmu.data_writes.empty() ? vmu_data_write{} : vmu.data_writes.back();
    std::printf("[masked=%d image=%d released=%d last write=%02x/%d]", vmu.masked,
                file_buffer != nullptr, vmu.released, last.value, last.masked);
}

// The state a failed frame leaves: port open, interrupts masked, two bytes in
// the log, an image once the start block has been accepted.
void leave_failed_frame(bool verbose_flag, bool with_image) {
    static const lpt_port blank{};
    vmu_port = blank;
    vmu_port.base = 0x378;
    vmu_port.data_shadow = DATA_OPEN | DATA_ECHO | DATA_SEND_CLOCK;
    vmu_port.log_count = 2;
    vmu_port.comm_log[0] = HEADER_REPLY;
    vmu_port.comm_log[1] = LOG_RECEIVED + 0x50;
    emu_vmu() = vmu_sim{};
    port_acquire(0x378);
    emu_vmu().masked = true;
    verbose = verbose_flag;
    file_buffer = with_image ? static_cast<std::uint8_t*>(std::malloc(512)) : nullptr;
}

std::string contents(std::FILE* f) {
    std::rewind(f);
    std::string text;
    for (int ch; (ch = std::fgetc(f)) != EOF;)
        text += static_cast<char>(ch);
    return text;
}

// Runs check_result(result) in a child, once with separate streams and once
// with both streams in one file.
exit_report run_check_result(int result, bool verbose_flag, bool with_image) {
    exit_report report;
    for (bool one_file : {false, true}) {
        std::FILE* out = std::tmpfile();
        std::FILE* err = one_file ? out : std::tmpfile();
        std::fflush(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(fileno(out), STDOUT_FILENO);
            dup2(fileno(err), STDERR_FILENO);
            leave_failed_frame(verbose_flag, with_image);
            std::atexit(report_at_exit);
            errno = ENOSPC;
            check_result(result);
            _exit(99);  // returned
        }
        int status = 0;
        waitpid(pid, &status, 0);
        report.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (one_file) {
            report.both = contents(out);
        } else {
            report.out = contents(out);
            report.err = contents(err);
            std::fclose(err);
        }
        std::fclose(out);
    }
    return report;
}

const std::string UNKNOWN = "Error: Unknown error, please send bug-report\n";
const struct {
    int result;
    std::string message;
} MESSAGES[] = {
    {RESULT_TIMEOUT, "Error: Timeout\n"},
    {RESULT_ILLEGAL_REQUEST, "Error: Illegal request, please send bug-report\n"},
    {RESULT_VM_ABORT, "Error: VM wishes to abort\n"},
    {RESULT_PROTOCOL_ERROR, "Error: Protocol error\n"},
    {RESULT_IO_ERROR, "Error: " + std::string(std::strerror(ENOSPC)) + "\n"},  // perror
    {RESULT_BLOCK_TOO_SHORT, "Error: Block too short, aborted\n"},
    {RESULT_WRONG_BLOCK, "Error: Wrong block, aborted\n"},
    {RESULT_INTERNAL_ERROR, "Error: Internal error, please send bug-report\n"},
    {9, UNKNOWN},
    {100, UNKNOWN},
    {-1, UNKNOWN},
    {-2, UNKNOWN},
};

TEST(check_result, failure_prints_log_then_message_and_exits_1) {
    const std::string log = "close\n\nCommunications log: S:e0 R:50 \n";
    const std::string end = "[masked=0 image=0 released=1 last write=05/0]";
    int row = 0;
    for (const auto& c : MESSAGES) {
        for (bool verbose_flag : {false, true}) {
            const bool with_image = verbose_flag == (++row % 2 == 0);
            SCOPED_TRACE("result " + std::to_string(c.result) + (verbose_flag ? " -v" : "") +
                         (with_image ? " with image" : ""));
            const exit_report r = run_check_result(c.result, verbose_flag, with_image);
            const std::string line_end = verbose_flag ? "\n" : "";
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.out, log + line_end + end);
            EXPECT_EQ(r.err, c.message);
            EXPECT_EQ(r.both, log + line_end + c.message + end);
        }
    }
}

TEST(check_result, ok_returns_and_touches_nothing) {
    static const lpt_port blank{};
    vmu_port = blank;
    vmu_port.log_count = 1;
    emu_vmu() = vmu_sim{};
    emu_vmu().masked = true;
    std::uint8_t image[1];
    file_buffer = image;
    verbose = 1;

    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    check_result(RESULT_OK);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(emu_vmu().masked);
    EXPECT_TRUE(emu_vmu().data_writes.empty());
    EXPECT_FALSE(emu_vmu().released);
    EXPECT_EQ(file_buffer, image);
    file_buffer = nullptr;
    verbose = 0;
}

}  // namespace
