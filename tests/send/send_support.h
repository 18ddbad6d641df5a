// Running vmurx-send-emu as a user runs it, on card images built here with
// the card library, and vmurx-card on what it leaves: what the program
// tests of vmurx-send share.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "card/card_disk.h"
#include "card/card_edit.h"
#include "run_program.h"
#include "save_files.h"

inline constexpr std::uint8_t MONDAY_2002[8] = {0x20, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x00};
inline const save_stamp STAMP_2002{2002, 3, 4, 5, 6, 7};

/// `blocks` blocks whose bytes tell the file (`seed`) and their place.
inline bytes content_of(std::size_t blocks, unsigned seed) {
    bytes content(blocks * 512);
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<std::uint8_t>(i * 31 + seed * 7 + i / 509);
    return content;
}

inline card_image blank_card() {
    return card_new({0xFF, 0xFF, 0xFF, 0xFF}, 0, STAMP_2002, card_order::raw);
}

/// The card with data files NAME of `blocks` blocks added, in order.
inline card_image card_holding(card_image card,
                               const std::vector<std::pair<std::string, std::size_t>>& files,
                               bool game = false) {
    unsigned seed = 50;
    for (const auto& [name, blocks] : files) {
        card_new_file file{name, game, false, STAMP_2002, content_of(blocks, seed++)};
        std::size_t slot = 0;
        std::string reason;
        EXPECT_TRUE(card_add(card, file, slot, reason)) << name << ": " << reason;
    }
    return card;
}

inline card_image without(card_image card, std::size_t slot) {
    std::string reason;
    EXPECT_TRUE(card_remove(card, slot, reason)) << reason;
    return card;
}

inline void store(const card_image& card, const std::string& path) {
    file_error error;
    ASSERT_TRUE(card_store(path, card, true, error)) << error.reason;
}

/// vmurx-send-emu with the card options, then "--" and vmurx-send's words.
// `timeout_s` is for the real-time card, which on a loaded machine (or
// under the sanitizers) may wait out every bound before it fails.
inline run_result send_emu(const temp_dir& dir, std::vector<std::string> card,
                           const std::vector<std::string>& tool, int timeout_s = 30) {
    card.insert(card.begin(), VMURX_SEND_EMU_PATH);
    card.emplace_back("--");
    card.insert(card.end(), tool.begin(), tool.end());
    return run_program(card, {.cwd = dir.path(),
                              .env = {"TZ=UTC"},
                              .unset = {"VMURX_DELAY_US"},
                              .timeout_s = timeout_s});
}

inline run_result card_tool(const temp_dir& dir, const std::vector<std::string>& words) {
    std::vector<std::string> argv{VMURX_CARD_PATH};
    argv.insert(argv.end(), words.begin(), words.end());
    return run_program(argv, {.cwd = dir.path(), .env = {"TZ=UTC"}, .unset = {}});
}
