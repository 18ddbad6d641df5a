// The output file: its name from the VMU's name block, its creation, the
// single write of the image and the VMU's time stamp.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

/// The name block's 12 bytes and a terminating NUL.
inline constexpr std::size_t NAME_BLOCK_SIZE = 12;
/// The directory block: bytes 0 to 6 are century, year, month, day, hour,
/// minute and second as packed BCD; the rest is not used.
inline constexpr std::size_t DIRECTORY_BLOCK_SIZE = 12;

/// 10 x high nibble + low nibble of the low 8 bits, without validity checks.
int bcd_to_int(int byte);

/// Turns the name buffer into the file name in place: byte 12 becomes NUL,
/// every space in positions 1 to 11 becomes NUL (position 0 is never changed),
/// and then, because the name comes from a device, every '/' and every control
/// character (below 0x20, and 0x7F) before the end becomes '_', so that the
/// name can neither leave the current directory nor carry terminal controls,
/// and a '.' in position 0 becomes '_', so that the card cannot plant a hidden
/// file.
void decode_vmu_name(std::span<char, NAME_BLOCK_SIZE + 1> name_buffer);

enum class create_status { created, exists, failed };

/// Creates `name` for binary writing, refusing any name that exists already,
/// dangling symbolic links included; the test and the creation are one step.
create_status create_output_file(const char* name, std::FILE*& stream);

/// Writes the whole image, flushes it, sets the file's times from the
/// directory block (see set_file_times) and closes the stream. False when any
/// part of the image did not reach the file (errno says why): the file is
/// then emptied, and the stream stays open with nothing left to write. An
/// empty image is complete. A signal that would end the process meanwhile
/// (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXFSZ at a file size limit and the
/// like, at their default action) waits until the file holds the whole
/// image or nothing, and then ends it.
bool store_image(std::FILE* stream, std::span<const std::uint8_t> image,
                 std::span<const std::uint8_t> directory_block);

/// Sets the access and modification times of the open file `descriptor` to
/// the directory block's time stamp, read as local standard time. Failures
/// are not reported.
void set_file_times(int descriptor, std::span<const std::uint8_t> directory_block);
