// Block reception against the software VMU: the announced length of each
// header byte, what a frame stores, the order of its checks (block code,
// length, trailer), which answer goes back in each acknowledge mode, timeouts
// inside a frame, and the interrupt mask at every read and write of a frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "block/block.h"
#include "lpt/byte_exchange.h"
#include "lpt/lpt.h"
#include "platform/emu/emu_platform.h"

namespace {

using bytes = std::vector<std::uint8_t>;

// The card holds each Ack level for one read, so a byte costs 16 reads.
constexpr std::uint64_t READS_PER_BYTE = 16;
constexpr std::uint8_t CANARY = 0xEE;

bytes counting(std::size_t n) {
    bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(i + 1);
    return b;
}

vmu_frame frame(std::uint8_t header, std::uint8_t code, std::size_t n, std::uint8_t trailer = 0,
                bool answered = true) {
    return {header, code, counting(n), trailer, answered};
}

lpt_port& port() {
    static lpt_port p;
    return p;
}

// A fresh card and port, opened and past the ready handshake, so that every
// further read is a clocked byte.
void open_with(std::vector<vmu_frame> frames, std::int64_t stall = VMU_NEVER) {
    static const lpt_port blank{};
    emu_vmu() = vmu_sim{};
    emu_vmu().frames = std::move(frames);
    emu_vmu().stall_byte = stall;
    port() = blank;
    echo_byte = ECHO_INITIAL;
    testing::internal::CaptureStdout();
    ASSERT_EQ(lpt_open("lpt1", port()), 1);
    ASSERT_EQ(lpt_read_byte(port(), READY_TIMEOUT), READY_BYTE);
    testing::internal::GetCapturedStdout();
}

struct frame_case {
    const char* rule;
    vmu_frame sent_by_card;
    int payload_size, expected_code, ack_mode;
    int result;
    bytes pc_sent;       // on the wire from the PC, in order
    std::size_t stored;  // leading payload bytes that land in the buffer
    bool masked_on_return;
    std::int64_t stall = VMU_NEVER;  // card stops before this byte of its frame
};

// Columns: rule; what the card sends; payload size, expected code and
// acknowledge mode; result; the PC's bytes on the wire; payload bytes stored;
// interrupts masked on return; the byte of the frame before which the card
// stalls.
// clang-format off
const frame_case FRAME_CASES[] = {
    {"0x50 keeps 12 of 128", frame(0x50, 2, 128), 12, 2, 0, RESULT_OK, {0xE0}, 12, false},
    {"0x10 announces 1", frame(0x10, 8, 1), 1, 8, 1, RESULT_OK, {0xE0, 0x0C}, 1, true},
    {"0x1B announces 12", frame(0x1B, 6, 12), 12, 6, 0, RESULT_OK, {0xE0}, 12, false},
    {"0x1A short, mode 0", frame(0x1A, 6, 11, 0, false), 12, 6, 0,
     RESULT_BLOCK_TOO_SHORT, {0xE0}, 11, false},
    {"0x1A short, mode 1", frame(0x1A, 6, 11), 12, 6, 1,
     RESULT_BLOCK_TOO_SHORT, {0xE0, 0x0A}, 11, false},
    {"0x1F data block", frame(0x1F, 4, 16), 128, 4, 1,
     RESULT_BLOCK_TOO_SHORT, {0xE0, 0x0A}, 16, false},
    {"header 0x0F", frame(0x0F, 4, 0), 1, 4, 1, RESULT_PROTOCOL_ERROR, {}, 0, true},
    {"header 0x20", frame(0x20, 4, 0), 1, 4, 1, RESULT_PROTOCOL_ERROR, {}, 0, true},
    {"header 0x4F", frame(0x4F, 4, 0), 1, 4, 1, RESULT_PROTOCOL_ERROR, {}, 0, true},
    {"header 0x51", frame(0x51, 4, 0), 1, 4, 1, RESULT_PROTOCOL_ERROR, {}, 0, true},
    {"header 0x55", frame(0x55, 4, 0), 1, 4, 1, RESULT_PROTOCOL_ERROR, {}, 0, true},
    {"good, mode 1", frame(0x13, 3, 4), 4, 3, 1, RESULT_OK, {0xE0, 0x0C}, 4, true},
    {"good, mode 0", frame(0x13, 3, 4, 0, false), 4, 3, 0, RESULT_OK, {0xE0}, 4, false},
    {"trailer 0xFF", frame(0x13, 3, 4, 0xFF), 4, 3, 1, RESULT_OK, {0xE0, 0x0C}, 4, true},
    {"trailer 0x01, mode 0", frame(0x13, 3, 4, 0x01), 4, 3, 0,
     RESULT_PROTOCOL_ERROR, {0xE0, 0x0A}, 4, false},
    {"trailer 0x01, mode 1", frame(0x13, 3, 4, 0x01), 4, 3, 1,
     RESULT_PROTOCOL_ERROR, {0xE0, 0x0A}, 4, false},
    {"trailer 0x01, mode 2", frame(0x13, 3, 4, 0x01), 4, 3, 2,
     RESULT_PROTOCOL_ERROR, {0xE0, 0x0A}, 4, false},
    {"code first, mode 0", frame(0x11, 9, 2, 0x01, false), 12, 6, 0,
     RESULT_WRONG_BLOCK, {0xE0}, 2, false},
    {"code first, mode 1", frame(0x11, 9, 2, 0x01), 12, 6, 1,
     RESULT_WRONG_BLOCK, {0xE0, 0x0A}, 2, false},
    {"length before trailer", frame(0x11, 6, 2, 0x01, false), 12, 6, 0,
     RESULT_BLOCK_TOO_SHORT, {0xE0}, 2, false},
    {"ANY_BLOCK_CODE", frame(0x10, 0x37, 1), 1, ANY_BLOCK_CODE, 1, RESULT_OK, {0xE0, 0x0C}, 1, true},
    {"0xFF is -1", frame(0x10, 0xFF, 1), 1, -1, 1, RESULT_OK, {0xE0, 0x0C}, 1, true},
    {"0xFF is not 255", frame(0x10, 0xFF, 1), 1, 255, 1,
     RESULT_WRONG_BLOCK, {0xE0, 0x0A}, 1, false},
    {"timeout in payload", frame(0x50, 4, 128), 128, 4, 1, RESULT_TIMEOUT, {0xE0}, 5, true, 7},
    {"timeout on trailer", frame(0x12, 8, 3), 3, 8, 1, RESULT_TIMEOUT, {0xE0}, 3, false, 5},
};
// clang-format on

TEST(receive_block, frame_rules) {
    for (const frame_case& c : FRAME_CASES) {
        SCOPED_TRACE(c.rule);
        open_with({c.sent_by_card}, c.stall);
        const vmu_sim& vmu = emu_vmu();
        const std::uint64_t reads_before = vmu.status_reads, unmasked_before = vmu.unmasked_reads;
        const auto writes_before = static_cast<std::ptrdiff_t>(vmu.data_writes.size());
        std::uint8_t buffer[130];
        std::fill(std::begin(buffer), std::end(buffer), CANARY);

        testing::internal::CaptureStdout();
        // Timeout 1 keeps the stalls short and shows that the timeout is passed on.
        EXPECT_EQ(receive_block(port(), c.payload_size, c.expected_code, buffer, 1, c.ack_mode),
                  c.result);
        const std::string out = testing::internal::GetCapturedStdout();

        bytes expected_buffer(sizeof buffer, CANARY);
        std::copy_n(c.sent_by_card.payload.begin(), c.stored, expected_buffer.begin());
        EXPECT_EQ(bytes(buffer, buffer + sizeof buffer), expected_buffer);
        bytes sent;
        for (const vmu_pc_byte& b : vmu.pc_bytes) {
            sent.push_back(b.value);
            EXPECT_EQ(b.masked, b.value != BLOCK_NAK) << "sent " << int(b.value);
        }
        EXPECT_EQ(sent, c.pc_sent);
        // Every read is masked, and so is every write but those of a NAK.
        EXPECT_EQ(vmu.unmasked_reads, unmasked_before);
        EXPECT_EQ(std::count_if(vmu.data_writes.begin() + writes_before, vmu.data_writes.end(),
                                [](const vmu_data_write& w) { return !w.masked; }),
                  !sent.empty() && sent.back() == BLOCK_NAK ? 16 : 0);
        EXPECT_EQ(vmu.masked, c.masked_on_return);
        EXPECT_TRUE(vmu.complaints.empty()) << vmu.complaints.front();

        const std::uint64_t reads = vmu.status_reads - reads_before;
        if (c.result == RESULT_PROTOCOL_ERROR && sent.empty()) {
            EXPECT_EQ(reads, READS_PER_BYTE) << "nothing read after the header";
        }
        if (c.stall != VMU_NEVER) {
            EXPECT_EQ(out, "only got 0 bits\n");
            EXPECT_GE(reads, 1'000'000u);
            EXPECT_LT(reads, 1'000'000u + 200 * READS_PER_BYTE);
        } else {
            EXPECT_EQ(out, "");
        }
    }
}

TEST(receive_block, log_of_a_frame_accepted_in_mode_1) {
    open_with({frame(0x50, 4, 128, 0xFF)});
    std::uint8_t buffer[12];
    ASSERT_EQ(receive_block(port(), sizeof buffer, 4, buffer, BLOCK_TIMEOUT, 1), RESULT_OK);

    std::vector<std::int32_t> expected = {0x150, 0xE0, 0x104};
    for (std::uint8_t b : counting(128))
        expected.push_back(0x100 + b);  // dropped bytes are logged too
    expected.push_back(0x1FF);
    expected.push_back(0x0C);
    EXPECT_EQ(std::vector<std::int32_t>(port().comm_log.begin(),
                                        port().comm_log.begin() + port().log_count),
              expected);
}

}  // namespace
