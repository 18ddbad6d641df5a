// The card's directory as run --card needs it: the root in block 255 names
// the directory's highest block (at 0x4A) and its size in blocks (at 0x4C),
// and each 32-byte entry has the file type at 0 (0xCC: a game) and the name
// in 12 bytes at 4.
#include "vmu_tool/card_game.h"

#include "vmu/cpu/cpu.h"

namespace {

constexpr std::size_t BLOCK = 512;
constexpr std::size_t ROOT = 255 * BLOCK;
constexpr std::size_t ENTRY = 32;

unsigned u16_at(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return bytes[offset] | (unsigned{bytes[offset + 1]} << 8);
}

}  // namespace

bool card_holds_game(std::span<const std::uint8_t> card, const std::string& name,
                     std::string& reason) {
    if (card.size() != VMU_FLASH_SIZE) {
        reason = "not a 131072-byte card image";
        return false;
    }
    const unsigned last = u16_at(card, ROOT + 0x4A);
    const unsigned count = u16_at(card, ROOT + 0x4C);
    if (last >= 255 || count == 0 || count > last + 1) {
        reason = "the root block names no directory inside the card";
        return false;
    }
    for (unsigned block = last; block + count > last; --block) {
        for (std::size_t slot = 0; slot < BLOCK / ENTRY; ++slot) {
            const std::size_t entry = block * BLOCK + slot * ENTRY;
            if (card[entry] != 0xCC) {
                continue;
            }
            std::string entry_name(card.begin() + static_cast<std::ptrdiff_t>(entry + 4),
                                   card.begin() + static_cast<std::ptrdiff_t>(entry + 16));
            while (!entry_name.empty() && (entry_name.back() == ' ' || entry_name.back() == '\0')) {
                entry_name.pop_back();
            }
            if (entry_name == name) {
                return true;
            }
        }
        if (block == 0) {
            break;
        }
    }
    reason = "the card holds no game named " + name;
    return false;
}
