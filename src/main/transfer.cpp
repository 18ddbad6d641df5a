// The transfer sequence. It runs straight through once: ready signal, start
// block, name block, the data blocks each followed by a flash block, the
// directory block and the last flash block, then the file is stored. Nothing
// is retried; every failure ends the process.
#include "main/transfer.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "block/block.h"
#include "block/program.h"
#include "cable/cable.h"
#include "lpt/byte_exchange.h"
#include "lpt/comm_log.h"
#include "main/output_file.h"
#include "platform/platform.h"

namespace {

constexpr int SMALL_BLOCK_SIZE = 12;
constexpr int START_PAYLOAD_SIZE = 2;
constexpr int FLASH_PAYLOAD_SIZE = 1;

// A progress message, shown only with -v and flushed, so that it is on the
// console while the program waits for the VMU.
[[gnu::format(printf, 1, 2)]] void progress(const char* format, ...) {
    if (!verbose)
        return;
    std::va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::fflush(stdout);
}

[[noreturn]] void finish(int status) {
    lpt_close(vmu_port);
    release_file_buffer();
    end_program(status);
}

enum class answer { none, nak };

// A failure of the driver's own: the message on its own line, the answer to
// the VMU where the block is refused, then the close, which prints the log.
[[noreturn, gnu::format(printf, 2, 3)]] void fail(answer vmu_answer, const char* format, ...) {
    if (verbose)
        std::fputs("\n", stdout);
    flush_before_error();
    std::va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    if (vmu_answer == answer::nak)
        lpt_write_byte(vmu_port, BLOCK_NAK);
    finish(1);
}

// The driver's own acknowledgement of a block it has checked itself. Like
// those sent by receive_block, it goes out masked, and the mask stays on until
// the next frame's trailer.
void acknowledge() {
    mask_interrupts();
    lpt_write_byte(vmu_port, BLOCK_ACK);
}

int receive(int payload_size, int expected_code, std::uint8_t* buffer, int ack_mode) {
    return receive_block(vmu_port, payload_size, expected_code, buffer, BLOCK_TIMEOUT, ack_mode);
}

// The ready signal: the first read after opening waits for Select low.
void wait_until_ready() {
    progress("Waiting for VM ready ");
    if (lpt_read_byte(vmu_port, READY_TIMEOUT) == READ_TIMEOUT) {
        fail(answer::none, "Error: Timeout getting VM ready\n");
    }
    progress("OK\n");
    sleep_ms(1);
}

// The start block: the file's type and size. Allocates the image and
// returns its size in bytes.
std::size_t receive_start_block() {
    std::uint8_t start_block[SMALL_BLOCK_SIZE] = {};
    progress("Waiting for start block ");
    check_result(receive(START_PAYLOAD_SIZE, BLOCK_CODE_START, start_block, 0));
    const int file_type = start_block[0];
    const int size_in_blocks = start_block[1];
    const std::size_t image_size = static_cast<std::size_t>(size_in_blocks) * IMAGE_BLOCK_SIZE;
    if (file_type != TYPE_GAME && file_type != TYPE_DATA) {
        fail(answer::nak, "Error: File type 0x%02x is neither Game nor Data\n", file_type);
    }
    // At least one byte, so that an empty image is not taken for a failure.
    file_buffer = static_cast<std::uint8_t*>(std::malloc(image_size > 0 ? image_size : 1));
    if (file_buffer == nullptr)
        fail(answer::nak, "Error: Out of memory\n");
    acknowledge();
    progress("OK\nType: %s, size %d blocks\n", file_type == TYPE_DATA ? "Data" : "Game",
             size_in_blocks);
    return image_size;
}

// The name block, and the output file created under `name_option` or the
// card's name. Returns the file's stream.
std::FILE* receive_name_block(const char* name_option) {
    char name_buffer[NAME_BLOCK_SIZE + 1] = {};
    progress("Waiting for name block ");
    int name_result =
        receive(NAME_BLOCK_SIZE, BLOCK_CODE_NAME, reinterpret_cast<std::uint8_t*>(name_buffer), 0);
    decode_vmu_name(name_buffer);
    check_result(name_result);
    const char* output_name = name_option != nullptr ? name_option : name_buffer;
    std::FILE* output = nullptr;
    switch (create_output_file(output_name, output)) {
        case create_status::created:
            break;
        case create_status::exists:
            fail(answer::nak, "Error: File %s already exists\n", output_name);
        case create_status::failed:
            fail(answer::nak, "Error: Can't open file %s\n", output_name);
    }
    acknowledge();
    progress("OK\nName: %s\n", output_name);
    return output;
}

// The data blocks of the image, each followed by a flash block, then the
// directory block into `directory_block` and the last flash block.
void receive_image(std::size_t image_size, std::uint8_t* directory_block) {
    std::uint8_t last_flash = 0;
    const int data_blocks = static_cast<int>(image_size / DATA_BLOCK_SIZE);
    for (int n = 1; n <= data_blocks; ++n) {
        comm_log_append(vmu_port, LOG_MARK_DATA + n);
        progress("Receiving data %03d/%03d ", n, data_blocks);
        check_result(receive(DATA_BLOCK_SIZE, BLOCK_CODE_DATA,
                             file_buffer + static_cast<std::size_t>(DATA_BLOCK_SIZE) * (n - 1), 1));
        progress("\r");
        check_result(receive(FLASH_PAYLOAD_SIZE, BLOCK_CODE_FLASH, directory_block, 1));
    }

    comm_log_append(vmu_port, LOG_MARK_DIRECTORY);
    progress("\nReceiving directory block ");
    check_result(receive(DIRECTORY_BLOCK_SIZE, BLOCK_CODE_DIRECTORY, directory_block, 1));
    progress("OK\n");

    progress("Receiving last flash block ");
    comm_log_append(vmu_port, LOG_MARK_LAST_FLASH);
    check_result(receive(FLASH_PAYLOAD_SIZE, BLOCK_CODE_FLASH, &last_flash, 1));
    progress("OK\n");
}

}  // namespace

void run_transfer(const char* name_option) {
    wait_until_ready();
    const std::size_t image_size = receive_start_block();
    std::FILE* output = receive_name_block(name_option);
    // The flash blocks' payload lands here too, until the directory block
    // overwrites it.
    std::uint8_t directory_block[SMALL_BLOCK_SIZE] = {};
    receive_image(image_size, directory_block);
    if (!store_image(output, {file_buffer, image_size}, directory_block)) {
        flush_before_error();
        std::perror("Error writing file");
        finish(1);
    }
    finish(0);
}
