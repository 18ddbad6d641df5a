// Reading and writing .VMI descriptors and .DCI files.
#include "save/containers.h"

#include <algorithm>

#include "files/text.h"
#include "save/save_header.h"

namespace {

void put_text(std::span<std::uint8_t> field, const std::string& text) {
    std::fill(field.begin(), field.end(), 0);
    std::copy_n(text.begin(), std::min(text.size(), field.size()), field.begin());
}

}  // namespace

std::string trim_field(std::span<const std::uint8_t> field) {
    std::string text(field.begin(), std::find(field.begin(), field.end(), 0));
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

std::optional<vmi_record> parse_vmi(std::span<const std::uint8_t> bytes,
                                    std::vector<std::string>& problems) {
    if (bytes.size() < VMI_SIZE)
        return std::nullopt;
    if (bytes.size() > VMI_SIZE)
        problems.push_back("the VMI has " + std::to_string(bytes.size() - VMI_SIZE) +
                           " bytes more than 108");
    vmi_record vmi;
    vmi.description = trim_field(bytes.subspan(0x04, 32));
    vmi.copyright = trim_field(bytes.subspan(0x24, 32));
    vmi.stamp = {get_u16(bytes, 0x44), bytes[0x46], bytes[0x47],
                 bytes[0x48],          bytes[0x49], bytes[0x4A]};
    vmi.resource_name = trim_field(bytes.subspan(0x50, 8));
    vmi.card_name = trim_field(bytes.subspan(0x58, 12));
    vmi.mode = get_u16(bytes, 0x64);
    vmi.file_size = get_u32(bytes, 0x68);

    static const char sega[] = "SEGA";
    bool checksum_ok = true;
    for (std::size_t i = 0; i < 4; ++i) {
        const auto name_byte = static_cast<std::uint8_t>(bytes[0x50 + i]);
        checksum_ok = checksum_ok && bytes[i] == (name_byte & static_cast<std::uint8_t>(sega[i]));
    }
    if (!checksum_ok)
        problems.push_back("the VMI's checksum does not match its resource name");
    if (!stamp_is_valid(vmi.stamp))
        problems.push_back("the VMI's time stamp is not a valid date");
    if ((vmi.mode & ~(VMI_MODE_PROTECTED | VMI_MODE_GAME)) != 0)
        problems.push_back("unknown bits in the VMI's mode");
    return vmi;
}

std::vector<std::uint8_t> build_vmi(const vmi_record& vmi) {
    std::vector<std::uint8_t> bytes(VMI_SIZE, 0);
    const std::span<std::uint8_t> out(bytes);
    put_text(out.subspan(0x04, 32), vmi.description);
    put_text(out.subspan(0x24, 32), vmi.copyright);
    put_u16(out, 0x44, static_cast<std::uint16_t>(vmi.stamp.year));
    bytes[0x46] = static_cast<std::uint8_t>(vmi.stamp.month);
    bytes[0x47] = static_cast<std::uint8_t>(vmi.stamp.day);
    bytes[0x48] = static_cast<std::uint8_t>(vmi.stamp.hour);
    bytes[0x49] = static_cast<std::uint8_t>(vmi.stamp.minute);
    bytes[0x4A] = static_cast<std::uint8_t>(vmi.stamp.second);
    bytes[0x4B] = static_cast<std::uint8_t>(weekday_from_sunday(vmi.stamp));
    put_u16(out, 0x4C, 0);  // version
    put_u16(out, 0x4E, 1);  // file number
    put_text(out.subspan(0x50, 8), vmi.resource_name);
    put_text(out.subspan(0x58, 12), vmi.card_name);
    put_u16(out, 0x64, vmi.mode);
    put_u32(out, 0x68, vmi.file_size);
    static const char sega[] = "SEGA";
    for (std::size_t i = 0; i < 4; ++i)
        bytes[i] = bytes[0x50 + i] & static_cast<std::uint8_t>(sega[i]);
    return bytes;
}

void swap_words(std::span<std::uint8_t> bytes) {
    for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4)
        std::reverse(bytes.begin() + static_cast<std::ptrdiff_t>(i),
                     bytes.begin() + static_cast<std::ptrdiff_t>(i + 4));
}

directory_entry entry_from_bytes(std::span<const std::uint8_t, CARD_ENTRY_SIZE> bytes) {
    directory_entry entry;
    entry.type = bytes[0x00];
    entry.protection = bytes[0x01];
    entry.first_block = get_u16(bytes, 0x02);
    std::copy_n(bytes.begin() + 0x04, entry.name.size(), entry.name.begin());
    std::copy_n(bytes.begin() + 0x10, entry.stamp.size(), entry.stamp.begin());
    entry.blocks = get_u16(bytes, 0x18);
    entry.header_block = get_u16(bytes, 0x1A);
    std::copy_n(bytes.begin() + 0x1C, entry.reserved.size(), entry.reserved.begin());
    return entry;
}

void entry_to_bytes(const directory_entry& entry, std::span<std::uint8_t, CARD_ENTRY_SIZE> bytes) {
    bytes[0x00] = entry.type;
    bytes[0x01] = entry.protection;
    put_u16(bytes, 0x02, entry.first_block);
    std::copy(entry.name.begin(), entry.name.end(), bytes.begin() + 0x04);
    std::copy(entry.stamp.begin(), entry.stamp.end(), bytes.begin() + 0x10);
    put_u16(bytes, 0x18, entry.blocks);
    put_u16(bytes, 0x1A, entry.header_block);
    std::copy(entry.reserved.begin(), entry.reserved.end(), bytes.begin() + 0x1C);
}

std::string card_file_name(const directory_entry& entry) {
    std::string name(entry.name.begin(), entry.name.end());
    while (!name.empty() && name.back() == '\0')
        name.pop_back();
    return name;
}

std::array<std::uint8_t, NAME_BLOCK_SIZE> card_name_bytes(const std::string& name) {
    std::array<std::uint8_t, NAME_BLOCK_SIZE> bytes{};
    put_text(bytes, name);
    return bytes;
}

std::optional<save_stamp> card_file_stamp(const directory_entry& entry) {
    auto stamp = stamp_from_bcd(std::span<const std::uint8_t>(entry.stamp).first<STAMP_BCD_SIZE>());
    if (!stamp || !stamp_is_valid(*stamp))
        return std::nullopt;
    return stamp;
}

std::array<std::uint8_t, 8> card_stamp_bytes(const save_stamp& stamp) {
    std::array<std::uint8_t, 8> bytes{};
    stamp_to_bcd(stamp, std::span<std::uint8_t>(bytes).first<STAMP_BCD_SIZE>());
    bytes[STAMP_BCD_SIZE] = stamp_weekday_bcd(stamp);
    return bytes;
}

std::optional<dci_file> parse_dci(std::span<const std::uint8_t> bytes,
                                  std::vector<std::string>& problems) {
    if (bytes.size() < CARD_ENTRY_SIZE)
        return std::nullopt;
    dci_file dci;
    dci.entry = entry_from_bytes(bytes.first<CARD_ENTRY_SIZE>());
    const directory_entry& entry = dci.entry;
    if (!card_file_stamp(entry))
        problems.push_back("the DCI's time stamp is not a valid date");

    if (entry.type != TYPE_DATA && entry.type != TYPE_GAME)
        problems.push_back("unknown file type " + hex_number(entry.type, 2) + " in the DCI");
    if (entry.protection != 0x00 && entry.protection != 0xFF)
        problems.push_back("unusual copy-protection byte " + hex_number(entry.protection, 2));

    const auto body = bytes.subspan(CARD_ENTRY_SIZE);
    const std::size_t whole = body.size() / IMAGE_BLOCK_SIZE * IMAGE_BLOCK_SIZE;
    if (whole != body.size())
        problems.push_back(std::to_string(body.size() - whole) +
                           " bytes beyond the DCI's last whole block, ignored");
    if (entry.blocks != whole / IMAGE_BLOCK_SIZE)
        problems.push_back("the DCI's entry says " + std::to_string(entry.blocks) +
                           " blocks, it holds " + std::to_string(whole / IMAGE_BLOCK_SIZE));
    dci.content.assign(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(whole));
    swap_words(dci.content);
    return dci;
}

std::vector<std::uint8_t> build_dci(const directory_entry& entry,
                                    std::span<const std::uint8_t> content) {
    const std::size_t blocks = (content.size() + IMAGE_BLOCK_SIZE - 1) / IMAGE_BLOCK_SIZE;
    std::vector<std::uint8_t> bytes(CARD_ENTRY_SIZE + blocks * IMAGE_BLOCK_SIZE, 0);
    const std::span<std::uint8_t> out(bytes);
    directory_entry head = entry;
    head.first_block = 0;
    head.blocks = static_cast<std::uint16_t>(blocks);
    head.reserved = {};
    entry_to_bytes(head, out.first<CARD_ENTRY_SIZE>());
    std::copy(content.begin(), content.end(), bytes.begin() + CARD_ENTRY_SIZE);
    swap_words(out.subspan(CARD_ENTRY_SIZE));
    return bytes;
}
