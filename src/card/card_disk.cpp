// Reading and writing card files, and the names of entries and outputs.
#include "card/card_disk.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

bool read_card_bytes(const std::string& path, std::vector<std::uint8_t>& bytes, file_error& error) {
    error = {path, "", false};
    const std::unique_ptr<std::FILE, file_closer> file(std::fopen(path.c_str(), "rbe"));
    if (!file) {
        error.reason = std::strerror(errno);
        return false;
    }
    // One byte more than a card tells a larger file, and an endless device
    // cannot exhaust memory.
    bytes.assign(CARD_SIZE + 1, 0);
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file.get());
    if (std::ferror(file.get())) {
        error.reason = std::strerror(errno);
        return false;
    }
    bytes.resize(got);
    return true;
}

}  // namespace

bool card_load(const std::string& path, card_image& card, file_error& error) {
    std::vector<std::uint8_t> bytes;
    if (!read_card_bytes(path, bytes, error))
        return false;
    std::string reason;
    if (!card_from_file(bytes, card, reason)) {
        error = {path,
                 bytes.size() > CARD_SIZE
                     ? "not a card image: larger than " + std::to_string(CARD_SIZE) + " bytes"
                     : reason,
                 bytes.size() > CARD_SIZE};
        return false;
    }
    return true;
}

bool card_store(const std::string& path, const card_image& card, bool replace, file_error& error) {
    const std::vector<std::uint8_t> bytes = card_to_file(card);
    struct stat before {};
    const bool existed = stat(path.c_str(), &before) == 0;
    if (!write_outputs({{path, bytes, std::nullopt}}, replace, error)) {
        if (existed && replace)
            error.reason += "; the card is unchanged";
        return false;
    }
    if (existed && chmod(path.c_str(), before.st_mode & 07777) != 0) {
        error = {path, std::string("keeping its permissions: ") + std::strerror(errno), false};
        return false;
    }
    std::vector<std::uint8_t> back;
    if (!read_card_bytes(path, back, error))
        return false;
    if (back != bytes) {
        error = {path, "the card read back differs from what was written", false};
        return false;
    }
    return true;
}

bool card_find_entry(const card_image& card, const card_layout& layout, const std::string& entry,
                     std::size_t& slot, std::string& reason) {
    if (entry.size() > 1 && entry[0] == '#' &&
        entry.find_first_not_of("0123456789", 1) == std::string::npos && entry.size() < 6) {
        slot = std::stoul(entry.substr(1));
        if (slot >= card_slot_count(layout) ||
            card_read_entry(card, layout, slot).type == CARD_TYPE_NONE) {
            reason = "no file in slot " + entry;
            return false;
        }
        return true;
    }
    std::vector<std::size_t> found;
    for (const card_file& file : card_files(card, layout)) {
        if (card_file_name(file) == entry)
            found.push_back(file.slot);
    }
    if (found.empty()) {
        reason = "no file of this name on the card";
        return false;
    }
    if (found.size() > 1) {
        reason = "several files have this name, give one of their slots:";
        for (const std::size_t s : found)
            reason += " #" + std::to_string(s);
        return false;
    }
    slot = found.front();
    return true;
}

std::string card_output_name(const std::string& card_name) {
    std::string name = card_name;
    while (!name.empty() && (name.back() == '\0' || name.back() == ' '))
        name.pop_back();
    for (char& c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || byte < 0x20 || byte == 0x7F)
            c = '_';
    }
    if (name.empty())
        return "_";
    // No hidden file whose name the card chooses, and no "." or "..".
    if (name[0] == '.')
        name[0] = '_';
    return name;
}
