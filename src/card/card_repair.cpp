// Repairing a card: the chains first, then the lost blocks.
#include "card/card_repair.h"

#include <algorithm>
#include <array>

#include "card/card_check.h"

namespace {

struct followed {
    card_file entry;
    card_chain chain;
};

// How many chains, the system's counted as one, hold each block.
std::array<int, CARD_BLOCKS> holders(const card_layout& layout,
                                     const std::vector<followed>& files) {
    std::array<int, CARD_BLOCKS> count{};
    for (const std::uint16_t block : card_system_blocks(layout))
        count[block] = 1;
    for (const followed& f : files) {
        for (const std::uint16_t block : f.chain.blocks)
            ++count[block];
    }
    return count;
}

std::string blocks_text(std::size_t n) {
    return std::to_string(n) + (n == 1 ? " block" : " blocks");
}

// Ends a looping or out-of-range chain at its last good block, or shortens
// an entry to its whole but shorter chain; else says what is left. A chain
// that shares a block is left as it is. True when a file was cut short.
bool mend_chain(card_image& card, const card_layout& layout, const followed& f,
                const std::array<int, CARD_BLOCKS>& count, card_repair_report& report) {
    const std::string label = card_entry_label(f.entry);
    const card_chain& chain = f.chain;
    // The chain is followed past the entry's size: one that loops or leaves
    // the card only after more blocks than the entry says would make the
    // entry longer, taking blocks that may be another file's lost tail.
    const bool ends_early =
        (chain.kind == card_chain_fault::loops || chain.kind == card_chain_fault::leaves_card) &&
        chain.blocks.size() <= f.entry.blocks;
    const bool shorter =
        chain.kind == card_chain_fault::wrong_length && chain.blocks.size() < f.entry.blocks;
    if (!ends_early && !shorter) {
        report.left.push_back(label + ": " + chain.fault + " (remove it, or mend it by hand)");
        return false;
    }
    // A file that shares a block with another is the user's to choose
    // (list_shared_blocks says which): changing one changes the other.
    if (std::any_of(chain.blocks.begin(), chain.blocks.end(),
                    [&](std::uint16_t block) { return count[block] > 1; }))
        return false;
    if (ends_early)
        card_set_fat(card, layout, chain.blocks.back(), FAT_END);
    card_file entry = f.entry;
    entry.blocks = static_cast<std::uint16_t>(chain.blocks.size());
    card_put_entry(card, layout, entry);
    report.mended.push_back(label + ": " + chain.fault + ": " +
                            (ends_early
                                 ? "ended at block " + std::to_string(chain.blocks.back()) + ", "
                                 : std::string()) +
                            "now " + blocks_text(entry.blocks) + " (the entry said " +
                            std::to_string(f.entry.blocks) + ")");
    return true;
}

void list_shared_blocks(const card_layout& layout, const std::vector<followed>& files,
                        card_repair_report& report) {
    std::array<int, CARD_BLOCKS> first_holder;
    first_holder.fill(-1);
    for (const std::uint16_t block : card_system_blocks(layout))
        first_holder[block] = -2;
    for (std::size_t i = 0; i < files.size(); ++i) {
        for (const std::uint16_t block : files[i].chain.blocks) {
            const int other = first_holder[block];
            if (other == -1) {
                first_holder[block] = static_cast<int>(i);
                continue;
            }
            const std::string them =
                other == -2 ? std::string("the system blocks")
                            : card_entry_label(files[static_cast<std::size_t>(other)].entry);
            report.left.push_back("block " + std::to_string(block) + " is in two chains, " + them +
                                  " and " + card_entry_label(files[i].entry) +
                                  " (remove one of them, then check the other)");
        }
    }
}

// card_repair's work, on a copy.
bool repair(card_image& card, card_repair_report& report, std::string& reason) {
    card_layout layout;
    if (!card_read_layout(card, layout, reason))
        return false;
    // Which of the root and the FAT is wrong is a guess, and every chain and
    // lost block is read through both: nothing is mended.
    if (std::string unsound; !card_layout_sound(card, layout, unsound)) {
        report.left.push_back(unsound +
                              " (nothing mended: mend the root or the FAT by hand, then repair)");
        return true;
    }
    std::vector<followed> files;
    for (const card_file& file : card_files(card, layout))
        files.push_back({file, card_follow_chain(card, layout, file.first_block, file.blocks)});
    const std::array<int, CARD_BLOCKS> count = holders(layout, files);
    bool cut = false;
    for (const followed& f : files) {
        if (f.chain.kind != card_chain_fault::none)
            cut = mend_chain(card, layout, f, count, report) || cut;
    }
    list_shared_blocks(layout, files, report);

    const std::vector<std::uint16_t> lost = card_check(card).lost_blocks;
    if (lost.empty())
        return true;
    // A chain cut short or led astray may go on in blocks that now look
    // lost: they wait until what is left is dealt with, and a file cut
    // short in this run may go on in them too: they wait for the next run.
    const std::string kept = blocks_text(lost.size()) + " lost (" + card_block_ranges(lost) + ")";
    if (!report.left.empty()) {
        report.left.push_back(kept + " not freed while a damaged file may still reach them");
        return true;
    }
    if (cut) {
        report.left.push_back(kept +
                              " not freed: a file shortened now may go on in them (a copy of the "
                              "card keeps them; a second repair frees them)");
        return true;
    }
    for (const std::uint16_t block : lost)
        card_set_fat(card, layout, block, FAT_FREE);
    report.mended.push_back("freed " + blocks_text(lost.size()) +
                            " allocated in no file: " + card_block_ranges(lost));
    return true;
}

}  // namespace

bool card_repair(card_image& card, card_repair_report& report, std::string& reason) {
    report = {};
    card_image mended = card;
    if (!repair(mended, report, reason))
        return false;
    // Whatever the card, a repair adds no error of its own: else nothing.
    const std::vector<std::string> before = card_check(card).errors;
    for (const std::string& error : card_check(mended).errors) {
        if (std::find(before.begin(), before.end(), error) == before.end()) {
            report.mended.clear();
            report.left.push_back("nothing mended: the repair would add an error (" + error + ")");
            return true;
        }
    }
    card = std::move(mended);
    return true;
}
