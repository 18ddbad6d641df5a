// The card's time stamps: a calendar date and time without a zone, kept as
// local standard time. Their checks, their weekday, their packed-BCD form in
// a directory entry, their text forms, and their conversion to and from the
// system's clock. The one place of the save library, the software card's
// options and vmurx-save that knows how a stamp is written.
//
// vmurx itself reads the stamp of a transfer in main/output_file.cpp, on its
// own: the tool's core links nothing but the platform seam, so that it stays
// small and never depends on the save formats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>

#include "cable/cable.h"

/// A time stamp as the card keeps it: a calendar date and time, no zone.
struct save_stamp {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

bool operator==(const save_stamp& a, const save_stamp& b);

/// Whether the stamp is a real date and time between the years 1900 and 9999.
bool stamp_is_valid(const save_stamp& stamp);

/// Day of the week, 0 = Sunday; 0 for a stamp that is not valid.
int weekday_from_sunday(const save_stamp& stamp);

/// The seven BCD bytes of `stamp`, whose fields must each be 0 to 99 (the
/// year 0 to 9999).
void stamp_to_bcd(const save_stamp& stamp, std::span<std::uint8_t, STAMP_BCD_SIZE> bcd);

/// The stamp of seven BCD bytes, not checked with stamp_is_valid; nothing when
/// a digit is not decimal.
std::optional<save_stamp> stamp_from_bcd(std::span<const std::uint8_t, STAMP_BCD_SIZE> bcd);

/// The day of the week as a directory entry keeps it after the stamp: one BCD
/// byte, 0 = Monday.
std::uint8_t stamp_weekday_bcd(const save_stamp& stamp);

/// YYYYMMDDhhmmss, checked with stamp_is_valid: the one reading of a stamp
/// on every command line.
std::optional<save_stamp> parse_stamp_text(const std::string& text);

/// "YYYY-MM-DDThh:mm:ss".
std::string stamp_iso(const save_stamp& stamp);

/// The time as local standard time, the way a card stamp is stored in a
/// file's modification time.
save_stamp standard_time_stamp(std::time_t time);

/// The stamp read as local standard time.
std::optional<std::time_t> stamp_time(const save_stamp& stamp);
