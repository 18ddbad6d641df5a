// The protocol-level card on its own, against transcripts written from the
// link's rules rather than from the tool: every other suite checks the tool
// through this card, so a mistake the two shared would pass them all. The PC
// here is a few lines of the tests' own (rule_pc.h), and the expected bytes
// and levels are written out by hand.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "rule_pc.h"
#include "vmu/vmu_sim.h"

namespace {

rule_pc pc_on(vmu_sim& card) {
    rule_pc pc;
    pc.read = [&card] { return vmu_sim_status_read(card); };
    pc.write = [&card](std::uint8_t value) { vmu_sim_data_write(card, value); };
    pc.patience = 1000;
    return pc;
}

bool select_high(std::uint8_t raw) {
    return rule_pc::select_high(raw);
}
bool ack_high(std::uint8_t raw) {
    return rule_pc::ack_high(raw);
}
bool busy_high(std::uint8_t raw) {
    return rule_pc::busy_high(raw);
}

std::vector<int> bytes_of(const std::string& text) {
    return {text.begin(), text.end()};
}

}  // namespace

TEST(ProtocolCard, SendsAWholeFileFrameByFrameAsTheLinkOrdersIt) {
    vmu_file file;
    file.image.assign(512, 0);
    for (std::size_t i = 0; i < file.image.size(); ++i)
        file.image[i] = static_cast<std::uint8_t>(i * 13 + 1);
    file.type = 0xCC;
    file.name = "HELLO";
    vmu_sim card;
    card.frames = vmu_transfer_frames(file);

    // Header, reply E0, code, payload, trailer 00, answer 0C, frame by frame.
    std::vector<int> expected;
    const auto frame = [&](int header, int code, std::vector<int> payload) {
        expected.push_back(header);
        expected.push_back(code);
        expected.insert(expected.end(), payload.begin(), payload.end());
        expected.push_back(0x00);
    };
    frame(0x11, 0x02, {0xCC, 0x01});
    frame(0x1B, 0x06, bytes_of("HELLO       "));
    for (int piece = 0; piece < 4; ++piece) {
        std::vector<int> data(file.image.begin() + piece * 128,
                              file.image.begin() + (piece + 1) * 128);
        frame(0x50, 0x04, data);
        frame(0x10, 0x08, {0x00});
    }
    frame(0x1B, 0x03, {0x19, 0x99, 0x12, 0x31, 0x23, 0x59, 0x58, 0, 0, 0, 0, 0});
    frame(0x10, 0x08, {0x00});

    rule_pc pc = pc_on(card);
    ASSERT_TRUE(pc.wait_ready());
    std::vector<int> received;
    std::size_t in_frame = 0;  // bytes of the current frame so far
    std::size_t length = 0;
    while (received.size() < expected.size()) {
        const int byte = pc.receive();
        ASSERT_GE(byte, 0) << "the card stopped after " << received.size() << " bytes";
        received.push_back(byte);
        if (in_frame == 0) {
            length = byte == 0x50 ? 128 : static_cast<std::size_t>(byte - 0x0F);
            pc.send(0xE0);
        }
        if (++in_frame == length + 3) {
            pc.send(0x0C);
            in_frame = 0;
        }
    }
    EXPECT_EQ(received, expected);
    EXPECT_TRUE(vmu_sim_finished(card));
    EXPECT_TRUE(card.complaints.empty()) << card.complaints.front();
}

TEST(ProtocolCard, HoldsEachAckLevelItsTimeWithTheBitOnBusyAsAckRises) {
    const struct {
        const char* rule;
        int hold;
        std::uint8_t byte;
    } cases[] = {
        {"one read per level", 1, 0xA5},
        {"three reads per level", 3, 0x3C},
        {"all ones", 2, 0xFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        vmu_sim card;
        card.hold = c.hold;
        card.script = {c.byte};
        card.frames_scripted = true;  // the script alone, no frames
        // Read 1: ready, the card idle (Ack high, Busy low). The card starts
        // the byte one read later.
        const std::uint8_t first = vmu_sim_status_read(card);
        EXPECT_FALSE(select_high(first));
        EXPECT_TRUE(ack_high(first));
        // Then 16 levels of `hold` reads each: Ack low, then Ack high with
        // the bit on Busy, MSB first; then Ack stays high.
        for (int bit = 7; bit >= 0; --bit) {
            for (int half = 0; half < 2; ++half) {
                for (int read = 0; read < c.hold; ++read) {
                    const std::uint8_t raw = vmu_sim_status_read(card);
                    ASSERT_EQ(ack_high(raw), half == 1) << "bit " << bit << " read " << read;
                    if (half == 1) {
                        ASSERT_EQ(busy_high(raw), ((c.byte >> bit) & 1) != 0) << "bit " << bit;
                    }
                }
            }
        }
        for (int read = 0; read < 5; ++read)
            EXPECT_TRUE(ack_high(vmu_sim_status_read(card)));
        EXPECT_EQ(card.bytes_sent, 1);
    }
}

TEST(ProtocolCard, HearsThePcOnlyOnRisingD0WhileD3IsHighAndNamesWhatItBreaks) {
    const struct {
        const char* rule;
        std::vector<std::uint8_t> writes;
        std::vector<std::uint8_t> bytes;  // what the card assembled
        std::vector<std::string> complaints;
    } cases[] = {
        {"0xE0, MSB first",
         {0x0B, 0x0A, 0x0B, 0x0A, 0x0B, 0x0A, 0x0B, 0x08, 0x09, 0x08, 0x09, 0x08, 0x09, 0x08, 0x09,
          0x08, 0x09},
         {0xE0},
         {"PC sent 0xE0 while the card was not listening"}},
        {"no edge counts while D3 is low",
         {0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01,
          0x00, 0x01},
         {},
         {}},
        {"D1 moved while D0 was low", {0x09, 0x08, 0x0A}, {}, {"D1 changed while D0 was low"}},
        {"a line above D3", {0x19}, {}, {"data write 0x19 sets D4-D7"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        vmu_sim card;
        card.frames_scripted = true;
        for (std::uint8_t value : c.writes)
            vmu_sim_data_write(card, value);
        std::vector<std::uint8_t> bytes;
        for (const vmu_pc_byte& byte : card.pc_bytes)
            bytes.push_back(byte.value);
        EXPECT_EQ(bytes, c.bytes);
        EXPECT_EQ(card.complaints, c.complaints);
    }
}

TEST(ProtocolCard, RecordsThePcsEchoAtEveryRisingAck) {
    vmu_sim card;
    card.script = {0x12, 0x34};
    card.frames_scripted = true;
    rule_pc pc = pc_on(card);
    pc.echo = 0x81;
    ASSERT_TRUE(pc.wait_ready());
    ASSERT_EQ(pc.receive(), 0x12);
    ASSERT_EQ(pc.receive(), 0x34);
    // The first byte's echo is 0x81, the second's the first byte.
    const std::vector<std::uint8_t> expected = {1, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 1, 0};
    EXPECT_EQ(card.echo_bits, expected);
}

TEST(ProtocolCard, StopsAtTheChosenBitWithAckWhereItWasAsked) {
    for (const bool ack_low : {false, true}) {
        SCOPED_TRACE(ack_low ? "Ack low" : "Ack high");
        vmu_sim card;
        card.script = {0xFF, 0x00};
        card.frames_scripted = true;
        card.stall_byte = 1;
        card.stall_bit = 3;  // before the fourth bit from the top
        card.stall_ack_low = ack_low;
        rule_pc pc = pc_on(card);
        ASSERT_TRUE(pc.wait_ready());
        ASSERT_EQ(pc.receive(), 0xFF);
        int rises = 0;
        bool was_high = true;
        for (int read = 0; read < 200; ++read) {
            const bool high = ack_high(vmu_sim_status_read(card));
            rises += (high && !was_high) ? 1 : 0;
            was_high = high;
        }
        EXPECT_EQ(rises, 3);
        EXPECT_EQ(was_high, !ack_low);
    }
}

TEST(ProtocolCard, NeverSignalsReadyWhenToldNever) {
    vmu_sim card;
    card.ready_after = VMU_NEVER;
    rule_pc pc = pc_on(card);
    EXPECT_FALSE(pc.wait_ready());
    EXPECT_EQ(card.bytes_sent, 0);
}
