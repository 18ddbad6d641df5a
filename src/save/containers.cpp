// Reading and writing .VMI descriptors and .DCI files, and the time stamps
// both carry.
#include "containers.h"

#include <algorithm>
#include <cstdio>

#include "save_header.h"

namespace {

bool is_leap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_in_month(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap(year) ? 29 : days[month - 1];
}

void put_text(std::span<std::uint8_t> field, const std::string& text) {
    std::fill(field.begin(), field.end(), 0);
    std::copy_n(text.begin(), std::min(text.size(), field.size()), field.begin());
}

int from_bcd(std::uint8_t byte, bool& ok) {
    const int high = byte >> 4;
    const int low = byte & 0x0F;
    ok = ok && high <= 9 && low <= 9;
    return 10 * high + low;
}

std::uint8_t to_bcd(int value) {
    return static_cast<std::uint8_t>((value / 10) << 4 | value % 10);
}

std::string hex_byte(std::uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

}  // namespace

bool operator==(const save_stamp& a, const save_stamp& b) {
    return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
           a.minute == b.minute && a.second == b.second;
}

bool stamp_is_valid(const save_stamp& s) {
    return s.year >= 1900 && s.year <= 9999 && s.month >= 1 && s.month <= 12 && s.day >= 1 &&
           s.day <= days_in_month(s.year, s.month) && s.hour >= 0 && s.hour <= 23 &&
           s.minute >= 0 && s.minute <= 59 && s.second >= 0 && s.second <= 59;
}

int weekday_from_sunday(const save_stamp& s) {
    // A descriptor read leniently may carry any month; its weekday is then
    // meaningless, and the table below must not be indexed with it.
    if (!stamp_is_valid(s))
        return 0;
    // Zeller's congruence in the form that counts from Sunday.
    static const int offsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    const int year = s.month < 3 ? s.year - 1 : s.year;
    return (year + year / 4 - year / 100 + year / 400 + offsets[s.month - 1] + s.day) % 7;
}

std::optional<save_stamp> parse_stamp_text(const std::string& text) {
    if (text.size() != 14 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const auto number = [&](std::size_t at, std::size_t length) {
        return std::stoi(text.substr(at, length));
    };
    save_stamp stamp{number(0, 4), number(4, 2),  number(6, 2),
                     number(8, 2), number(10, 2), number(12, 2)};
    if (!stamp_is_valid(stamp))
        return std::nullopt;
    return stamp;
}

std::string stamp_iso(const save_stamp& s) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", s.year, s.month, s.day,
                  s.hour, s.minute, s.second);
    return text;
}

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

std::optional<dci_file> parse_dci(std::span<const std::uint8_t> bytes,
                                  std::vector<std::string>& problems) {
    if (bytes.size() < DCI_ENTRY_SIZE)
        return std::nullopt;
    dci_file dci;
    card_entry& entry = dci.entry;
    entry.type = bytes[0x00];
    entry.protection = bytes[0x01];
    entry.name = trim_field(bytes.subspan(0x04, 12));
    bool bcd_ok = true;
    save_stamp stamp;
    stamp.year = 100 * from_bcd(bytes[0x10], bcd_ok) + from_bcd(bytes[0x11], bcd_ok);
    stamp.month = from_bcd(bytes[0x12], bcd_ok);
    stamp.day = from_bcd(bytes[0x13], bcd_ok);
    stamp.hour = from_bcd(bytes[0x14], bcd_ok);
    stamp.minute = from_bcd(bytes[0x15], bcd_ok);
    stamp.second = from_bcd(bytes[0x16], bcd_ok);
    if (bcd_ok && stamp_is_valid(stamp))
        entry.stamp = stamp;
    else
        problems.push_back("the DCI's time stamp is not a valid date");
    entry.blocks = get_u16(bytes, 0x18);
    entry.header_block = get_u16(bytes, 0x1A);

    if (entry.type != DCI_TYPE_DATA && entry.type != DCI_TYPE_GAME)
        problems.push_back("unknown file type " + hex_byte(entry.type) + " in the DCI");
    if (entry.protection != 0x00 && entry.protection != 0xFF)
        problems.push_back("unusual copy-protection byte " + hex_byte(entry.protection));

    const auto body = bytes.subspan(DCI_ENTRY_SIZE);
    const std::size_t whole = body.size() / SAVE_BLOCK_SIZE * SAVE_BLOCK_SIZE;
    if (whole != body.size())
        problems.push_back(std::to_string(body.size() - whole) +
                           " bytes beyond the DCI's last whole block, ignored");
    if (entry.blocks != whole / SAVE_BLOCK_SIZE)
        problems.push_back("the DCI's entry says " + std::to_string(entry.blocks) +
                           " blocks, it holds " + std::to_string(whole / SAVE_BLOCK_SIZE));
    dci.content.assign(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(whole));
    swap_words(dci.content);
    return dci;
}

std::vector<std::uint8_t> build_dci(const card_entry& entry,
                                    std::span<const std::uint8_t> content) {
    const std::size_t blocks = (content.size() + SAVE_BLOCK_SIZE - 1) / SAVE_BLOCK_SIZE;
    std::vector<std::uint8_t> bytes(DCI_ENTRY_SIZE + blocks * SAVE_BLOCK_SIZE, 0);
    const std::span<std::uint8_t> out(bytes);
    bytes[0x00] = entry.type;
    bytes[0x01] = entry.protection;
    put_u16(out, 0x02, 0);
    put_text(out.subspan(0x04, 12), entry.name);
    if (entry.stamp) {
        const save_stamp& s = *entry.stamp;
        const std::uint8_t stamp[8] = {
            to_bcd(s.year / 100), to_bcd(s.year % 100),
            to_bcd(s.month),      to_bcd(s.day),
            to_bcd(s.hour),       to_bcd(s.minute),
            to_bcd(s.second),     to_bcd((weekday_from_sunday(s) + 6) % 7)};
        std::copy_n(stamp, 8, bytes.begin() + 0x10);
    }
    put_u16(out, 0x18, static_cast<std::uint16_t>(blocks));
    put_u16(out, 0x1A, entry.header_block);
    std::copy(content.begin(), content.end(), bytes.begin() + DCI_ENTRY_SIZE);
    swap_words(out.subspan(DCI_ENTRY_SIZE));
    return bytes;
}
