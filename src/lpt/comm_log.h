// The communications log: every byte that crosses the cable, in order, plus
// markers that the transfer puts at the start of the data and final blocks.
// It lives inside the port record and is printed whenever the port is closed.
#pragma once

#include <cstdint>
#include <cstdio>

struct lpt_port;

/// Entry values: a sent byte is 0..255, a received byte LOG_RECEIVED + byte.
inline constexpr std::int32_t LOG_RECEIVED = 256;
/// Marker before data block n (counted from 1): LOG_MARK_DATA + n.
inline constexpr std::int32_t LOG_MARK_DATA = 511;
inline constexpr std::int32_t LOG_MARK_DIRECTORY = 766;
inline constexpr std::int32_t LOG_MARK_LAST_FLASH = 767;

// The log holds every entry of the largest transfer the protocol allows, so
// that nothing is ever lost: a start block announces at most 255 blocks of
// 512 bytes, that is 1,020 data blocks of 128 bytes, each followed by a flash
// block; with the start, name, directory and last flash blocks that makes
// 2,044 frames. A frame costs at most header, reply, block code, 128 payload
// bytes, trailer and answer; every data block and the last two blocks get a
// marker.
inline constexpr std::int32_t LOG_MAX_DATA_BLOCKS = 255 * 512 / 128;
inline constexpr std::int32_t LOG_MAX_FRAMES = 2 + 2 * LOG_MAX_DATA_BLOCKS + 2;
inline constexpr std::int32_t LOG_MAX_FRAME_ENTRIES = 1 + 1 + 1 + 128 + 1 + 1;
inline constexpr std::int32_t LOG_MAX_MARKERS = LOG_MAX_DATA_BLOCKS + 2;
inline constexpr std::int32_t COMM_LOG_SIZE =
    LOG_MAX_FRAMES * LOG_MAX_FRAME_ENTRIES + LOG_MAX_MARKERS;
static_assert(COMM_LOG_SIZE == 272'874);

/// Stores `entry` after the last one. An entry that does not fit is not
/// stored but counted in the port's `log_dropped`.
void comm_log_append(lpt_port& port, std::int32_t entry);

/// Prints the log on the link's output: "\nCommunications log: ", one
/// "%c:%02x " item per entry, a note on missing entries if any, then "\n".
void comm_log_print(const lpt_port& port);

/// Where the link prints its fixed fragments: the ready handshake's, a byte
/// cut short, the unknown port, the port's open and close lines and this
/// log. Standard output unless a program sets another stream once at
/// start-up (vmurx-backup: its --log file, or a stream that keeps nothing);
/// a null stream puts standard output back.
void set_link_output(std::FILE* stream);
std::FILE* link_output();
