// Naming, creating, writing and time-stamping the output file.
#include "main/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <cerrno>
#include <ctime>

int bcd_to_int(int byte) {
    return 10 * ((byte >> 4) & 0x0F) + (byte & 0x0F);
}

void decode_vmu_name(std::span<char, NAME_BLOCK_SIZE + 1> name_buffer) {
    name_buffer[NAME_BLOCK_SIZE] = '\0';
    for (std::size_t i = NAME_BLOCK_SIZE - 1; i >= 1; --i) {
        if (name_buffer[i] == ' ')
            name_buffer[i] = '\0';
    }
    for (char& c : name_buffer) {
        if (c == '\0')
            break;
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || byte < 0x20 || byte == 0x7F)
            c = '_';
    }
}

create_status create_output_file(const char* name, std::FILE*& stream) {
    struct stat existing;
    if (stat(name, &existing) == 0)
        return create_status::exists;
    // "x": O_CREAT | O_EXCL, so a name that appeared since the test, or a
    // symbolic link, is refused rather than followed or truncated.
    stream = std::fopen(name, "wbx");
    if (stream != nullptr)
        return create_status::created;
    return errno == EEXIST ? create_status::exists : create_status::failed;
}

bool store_image(std::FILE* stream, std::span<const std::uint8_t> image) {
    // After a failed write the stream is left for the process exit to close.
    if (!image.empty() && std::fwrite(image.data(), image.size(), 1, stream) != 1)
        return false;
    // Part of the image may still sit in the stream's buffer: a failure to
    // flush it on close loses data just as a failed write does.
    return std::fclose(stream) == 0;
}

void set_file_times(const char* name, std::span<const std::uint8_t> directory_block) {
    std::tm time{};
    time.tm_year = bcd_to_int(directory_block[1]) + 100 * bcd_to_int(directory_block[0]) - 1900;
    time.tm_mon = bcd_to_int(directory_block[2]) - 1;
    time.tm_mday = bcd_to_int(directory_block[3]);
    time.tm_hour = bcd_to_int(directory_block[4]);
    time.tm_min = bcd_to_int(directory_block[5]);
    time.tm_sec = bcd_to_int(directory_block[6]);
    time.tm_isdst = 0;  // the stamp is standard time, also in summer
    std::time_t stamp = std::mktime(&time);
    if (stamp == static_cast<std::time_t>(-1))
        return;  // keep the times of writing
    utimbuf times{stamp, stamp};
    utime(name, &times);
}
