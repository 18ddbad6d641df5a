// The receiving card counting time by the tests' own PC (rule_pc.h), a file's
// frames written from the cable's facts, and card images built with the card
// library: what the receiving card's tests share.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "card/card_edit.h"
#include "card/card_place.h"
#include "rule_pc.h"
#include "vmu/copy_receive.h"

inline constexpr std::int64_t US = 1'000'000;  // picoseconds
inline constexpr std::int64_t MS = 1'000 * US;
inline const save_stamp STAMP{2002, 3, 4, 5, 6, 7};

inline card_image blank() {
    return card_new({0xFF, 0xFF, 0xFF, 0xFF}, 0, STAMP, card_order::raw);
}

inline card_layout layout_of(const card_image& card) {
    card_layout layout;
    std::string reason;
    card_read_layout(card, layout, reason);
    return layout;
}

inline std::vector<std::uint8_t> content_of(std::size_t blocks, std::uint8_t seed) {
    std::vector<std::uint8_t> content(blocks * 512);
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<std::uint8_t>(i * 13 + seed);
    return content;
}

// A file as the PC sends it: its frames' bytes, header to trailer.
struct sent_file {
    std::vector<std::vector<std::uint8_t>> frames;
};

inline sent_file file_frames(const std::string& name, bool game,
                             const std::vector<std::uint8_t>& data) {
    const std::size_t blocks = data.size() / 512;
    sent_file file;
    for (std::size_t f = 0; f < cable_frame_count(blocks); ++f) {
        const cable_frame kind = cable_frame_at(f, blocks);
        std::vector<std::uint8_t> payload;
        switch (kind) {
            case cable_frame::start:
                payload = {game ? TYPE_GAME : TYPE_DATA, static_cast<std::uint8_t>(blocks)};
                break;
            case cable_frame::name: {
                std::string padded = name;
                padded.resize(12, '\0');  // as the card library pads a name
                payload.assign(padded.begin(), padded.end());
                break;
            }
            case cable_frame::data:
                payload.assign(data.begin() + static_cast<std::ptrdiff_t>((f - 2) / 2 * 128),
                               data.begin() + static_cast<std::ptrdiff_t>((f - 2) / 2 * 128 + 128));
                break;
            case cable_frame::directory:
                // 2002-03-04 05:06:07, a Monday; the size; a game's header at 1.
                payload = {0x20,
                           0x02,
                           0x03,
                           0x04,
                           0x05,
                           0x06,
                           0x07,
                           0x00,
                           static_cast<std::uint8_t>(blocks),
                           0,
                           static_cast<std::uint8_t>(game ? 1 : 0),
                           0};
                break;
            case cable_frame::flash:
            case cable_frame::last_flash:
                payload = {0x00};
                break;
        }
        // Header and code before the payload, the trailer after it.
        payload.insert(payload.begin(), {cable_header_for(payload.size()), cable_frame_code(kind)});
        payload.push_back(cable_frame_trailer(kind));
        file.frames.push_back(payload);
    }
    return file;
}

// The card counting time by a PC whose every access costs 1 µs and whose
// delay unit is 50 µs, with the card's time of every fall and rise of Ack.
struct receive_bench {
    copy_receive card;
    rule_pc pc;
    std::vector<std::int64_t> falls;
    std::vector<std::int64_t> rises;
    std::vector<std::uint8_t> echoes;   // what Select showed during each byte sent
    std::vector<std::int64_t> sent_at;  // the card's time at the end of each byte sent
    unsigned unit_us = 50;              // the PC's delay unit

    explicit receive_bench(const card_image& image) {
        card.image = image;
        card.pc.access_ps = US;
        copy_receive_start(card);
        pc.read = [this] {
            const std::uint8_t raw = copy_receive_status_read(card);
            const bool high = rule_pc::ack_high(raw);
            if (high != ack_was_high)
                (high ? rises : falls).push_back(card.now_ps);
            ack_was_high = high;
            return raw;
        };
        pc.write = [this](std::uint8_t value) { copy_receive_data_write(card, value); };
        pc.delay = [this] { copy_receive_delay(card, unit_us); };
        pc.patience = 3'000'000;
        pc.put(0x01);  // D0 idle high, D3 low
    }

    // D3 rises, and the PC gives the card a second to switch.
    void connect() {
        pc.put(0x09);
        copy_receive_sleep(card, 1000);
    }

    void send(std::uint8_t byte) {
        echoes.push_back(pc.send_echoed(byte));
        sent_at.push_back(card.now_ps);
    }

    // Sends the frames, each header with its reply and each frame with its
    // answer; stops at a reply other than 0xE0 or a missing answer. The
    // answers received.
    std::vector<int> transfer(const sent_file& file, std::size_t frames = SIZE_MAX) {
        std::vector<int> answers;
        for (std::size_t f = 0; f < file.frames.size() && f < frames; ++f) {
            const std::vector<std::uint8_t>& bytes = file.frames[f];
            send(bytes[0]);
            const int reply = pc.receive();
            answers.push_back(reply);
            if (reply != HEADER_REPLY)
                return answers;
            for (std::size_t i = 1; i < bytes.size(); ++i)
                send(bytes[i]);
            answers.push_back(pc.receive());
            if (answers.back() != BLOCK_ACK)
                return answers;
        }
        return answers;
    }

private:
    bool ack_was_high = true;
};

inline std::vector<int> all_accepted(std::size_t frames) {
    std::vector<int> answers;
    for (std::size_t f = 0; f < frames; ++f)
        answers.insert(answers.end(), {HEADER_REPLY, BLOCK_ACK});
    return answers;
}

inline card_image with_file(card_image card, const std::string& name, std::size_t blocks,
                            bool game) {
    card_new_file file{name, game, false, STAMP, content_of(blocks, 7)};
    std::size_t slot = 0;
    std::string reason;
    EXPECT_TRUE(card_add(card, file, slot, reason)) << reason;
    return card;
}

// Block 0 held by a data file, the 199 blocks above it free.
inline card_image low_file_only() {
    card_image card = with_file(with_file(blank(), "HIGH", 199, false), "LOW", 1, false);
    std::string reason;
    EXPECT_TRUE(card_remove(card, 0, reason)) << reason;
    return card;
}
