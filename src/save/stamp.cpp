// The card's time stamps: checks, weekday, BCD, text and the system's clock.
#include "save/stamp.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace {

bool is_leap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_in_month(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap(year) ? 29 : days[month - 1];
}

std::uint8_t to_bcd(int value) {
    return static_cast<std::uint8_t>((value / 10) << 4 | value % 10);
}

int from_bcd(std::uint8_t byte, bool& ok) {
    const int high = byte >> 4;
    const int low = byte & 0x0F;
    ok = ok && high <= 9 && low <= 9;
    return 10 * high + low;
}

// Any fourteen decimal digits, whether or not they name a real date.
std::optional<save_stamp> stamp_digits(const std::string& text) {
    if (text.size() != 14 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const auto number = [&](std::size_t at, std::size_t length) {
        return std::stoi(text.substr(at, length));
    };
    return save_stamp{number(0, 4), number(4, 2),  number(6, 2),
                      number(8, 2), number(10, 2), number(12, 2)};
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

void stamp_to_bcd(const save_stamp& s, std::span<std::uint8_t, STAMP_BCD_SIZE> bcd) {
    const int fields[STAMP_BCD_SIZE] = {s.year / 100, s.year % 100, s.month, s.day,
                                        s.hour,       s.minute,     s.second};
    std::transform(std::begin(fields), std::end(fields), bcd.begin(), to_bcd);
}

std::optional<save_stamp> stamp_from_bcd(std::span<const std::uint8_t, STAMP_BCD_SIZE> bcd) {
    bool ok = true;
    save_stamp stamp;
    stamp.year = 100 * from_bcd(bcd[0], ok) + from_bcd(bcd[1], ok);
    stamp.month = from_bcd(bcd[2], ok);
    stamp.day = from_bcd(bcd[3], ok);
    stamp.hour = from_bcd(bcd[4], ok);
    stamp.minute = from_bcd(bcd[5], ok);
    stamp.second = from_bcd(bcd[6], ok);
    if (!ok)
        return std::nullopt;
    return stamp;
}

std::uint8_t stamp_weekday_bcd(const save_stamp& stamp) {
    return to_bcd((weekday_from_sunday(stamp) + 6) % 7);
}

std::optional<save_stamp> parse_stamp_text(const std::string& text) {
    const std::optional<save_stamp> stamp = stamp_digits(text);
    if (!stamp || !stamp_is_valid(*stamp))
        return std::nullopt;
    return stamp;
}

std::string stamp_iso(const save_stamp& s) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", s.year, s.month, s.day,
                  s.hour, s.minute, s.second);
    return text;
}

save_stamp standard_time_stamp(std::time_t time) {
    std::tm local{};
    localtime_r(&time, &local);
    std::tm wall_clock = local;              // timegm() rewrites what it is given
    std::time_t wall = timegm(&wall_clock);  // the wall clock, counted as if in UTC
    if (local.tm_isdst > 0) {
        // The same wall clock read as standard time lies later by the
        // daylight-saving shift; standard time is that much behind the wall.
        std::tm as_standard = local;
        as_standard.tm_isdst = 0;
        const std::time_t shifted = std::mktime(&as_standard);
        if (shifted != static_cast<std::time_t>(-1))
            wall -= shifted - time;
    }
    std::tm s{};
    gmtime_r(&wall, &s);
    return {s.tm_year + 1900, s.tm_mon + 1, s.tm_mday, s.tm_hour, s.tm_min, s.tm_sec};
}

std::optional<std::time_t> stamp_time(const save_stamp& stamp) {
    std::tm time{};
    time.tm_year = stamp.year - 1900;
    time.tm_mon = stamp.month - 1;
    time.tm_mday = stamp.day;
    time.tm_hour = stamp.hour;
    time.tm_min = stamp.minute;
    time.tm_sec = stamp.second;
    time.tm_isdst = 0;  // card stamps are standard time, also in summer
    // -1 is also the real instant one second before 1970: only errno tells a
    // failure from it, as where vmurx sets a file's times.
    errno = 0;
    const std::time_t result = std::mktime(&time);
    if (result == static_cast<std::time_t>(-1) && errno != 0)
        return std::nullopt;
    return result;
}
