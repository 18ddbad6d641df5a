// The frames of one file, over the core's block reception.
#include "backup/backup_receive.h"

#include <algorithm>
#include <cstdint>

#include "block/block.h"
#include "lpt/byte_exchange.h"
#include "lpt/comm_log.h"
#include "platform/platform.h"

volatile std::sig_atomic_t backup_interrupted = 0;

namespace {

constexpr int SMALL_BLOCK_SIZE = 12;

const char* result_words(int result) {
    switch (result) {
        case RESULT_TIMEOUT:
            return "the card stopped sending (timeout)";
        case RESULT_PROTOCOL_ERROR:
            return "a garbled frame (no header, or a bad trailer)";
        case RESULT_BLOCK_TOO_SHORT:
            return "a frame too short";
        case RESULT_WRONG_BLOCK:
            return "a frame out of order (wrong block code)";
        case RESULT_IO_ERROR:
            return "the port failed";
        default:
            return "an unexpected result of the link";
    }
}

struct run {
    lpt_port& port;
    backup_target& target;
    backup_watch& watch;
    backup_outcome out;
    std::size_t pieces = 0;

    // A frame that failed: interrupts unmasked, as the core's fatal exit
    // leaves them, and the reason.
    bool failed(int result) {
        unmask_interrupts();
        out.end = backup_end::failed;
        out.reason =
            std::string(result_words(result)) + " at " + backup_frame_words(out.frames + 1, pieces);
        return false;
    }

    bool refused(const backup_refusal& refusal) {
        lpt_write_byte(port, BLOCK_NAK);
        unmask_interrupts();
        out.end = backup_end::refused;
        out.reason = refusal.reason;
        out.remedy = refusal.remedy;
        return false;
    }

    // After a frame was taken: the watch told, and whether to go on. A file
    // whose last frame is taken is whole, whatever came meanwhile.
    bool taken(bool last = false) {
        ++out.frames;
        watch.frame_done(out.file, out.frames);
        if (last || backup_interrupted == 0)
            return true;
        unmask_interrupts();
        out.end = backup_end::interrupted;
        out.reason = "stopped after " + backup_frame_words(out.frames, pieces);
        return false;
    }

    // The ready signal in units, so that a signal is seen within one.
    bool ready() {
        for (int unit = 0; unit < BACKUP_READY_UNITS; ++unit) {
            port.first_read = 1;
            if (lpt_read_byte(port, 1) != READ_TIMEOUT) {
                sleep_ms(1);
                return true;
            }
            if (backup_interrupted != 0) {
                out.end = backup_end::interrupted;
                out.reason = "stopped before the card was ready";
                return false;
            }
        }
        out.end = backup_end::no_ready;
        out.reason = "no ready signal from the card";
        return false;
    }

    // The start and name frames, which the target is asked about before
    // they are answered.
    bool answer(const backup_refusal& refusal) {
        if (refusal.refused())
            return refused(refusal);
        mask_interrupts();
        lpt_write_byte(port, BLOCK_ACK);
        return taken();
    }

    bool start() {
        std::uint8_t bytes[SMALL_BLOCK_SIZE] = {};
        const int result = receive_block(port, 2, BLOCK_CODE_START, bytes, BLOCK_TIMEOUT, 0);
        if (result != RESULT_OK)
            return failed(result);
        if (bytes[0] != TYPE_GAME && bytes[0] != TYPE_DATA) {
            return refused({"the start frame tells a file type 0x" + hex_byte(bytes[0]) +
                                ", neither game nor data",
                            "look at the file on the card"});
        }
        out.file.game = bytes[0] == TYPE_GAME;
        out.file.blocks = bytes[1];
        pieces = out.file.blocks * CABLE_PIECES_PER_BLOCK;
        out.file.content.assign(out.file.blocks * IMAGE_BLOCK_SIZE, 0);
        return answer(target.check_size(out.file.game, out.file.blocks));
    }

    bool name() {
        const int result = receive_block(port, NAME_BLOCK_SIZE, BLOCK_CODE_NAME,
                                         out.file.name.data(), BLOCK_TIMEOUT, 0);
        if (result != RESULT_OK)
            return failed(result);
        out.named = true;
        return answer(target.check_name(out.file));
    }

    bool frame(int payload, int code, std::uint8_t* buffer, bool last = false) {
        const int result = receive_block(port, payload, code, buffer, BLOCK_TIMEOUT, 1);
        if (result != RESULT_OK)
            return failed(result);
        return taken(last);
    }

    bool pieces_and_ends() {
        std::uint8_t flash[SMALL_BLOCK_SIZE] = {};
        for (std::size_t n = 0; n < pieces; ++n) {
            comm_log_append(port, LOG_MARK_DATA + static_cast<std::int32_t>(n) + 1);
            if (!frame(DATA_BLOCK_SIZE, BLOCK_CODE_DATA,
                       out.file.content.data() + n * DATA_BLOCK_SIZE) ||
                !frame(1, BLOCK_CODE_FLASH, flash)) {
                return false;
            }
        }
        std::uint8_t directory[SMALL_BLOCK_SIZE] = {};
        comm_log_append(port, LOG_MARK_DIRECTORY);
        if (!frame(DIRECTORY_BLOCK_SIZE, BLOCK_CODE_DIRECTORY, directory))
            return false;
        std::copy_n(directory, DIRECTORY_BLOCK_SIZE, out.file.tail.begin());
        comm_log_append(port, LOG_MARK_LAST_FLASH);
        if (!frame(1, BLOCK_CODE_FLASH, flash, true))
            return false;
        unmask_interrupts();
        out.end = backup_end::arrived;
        return true;
    }

    static std::string hex_byte(std::uint8_t byte) {
        const char* digits = "0123456789ABCDEF";
        return {digits[byte >> 4], digits[byte & 0x0F]};
    }
};

}  // namespace

backup_outcome backup_receive(lpt_port& port, backup_target& target, backup_watch& watch) {
    run r{port, target, watch, {}};
    if (r.ready() && r.start() && r.name())
        r.pieces_and_ends();
    return r.out;
}

std::string backup_frame_words(std::size_t frame, std::size_t pieces) {
    if (frame <= 1)
        return "the start frame";
    if (frame == 2)
        return "the name frame";
    if (pieces == 0 || frame > 2 + 2 * pieces)
        return frame == 3 + 2 * pieces ? "the directory frame" : "the last frame";
    const std::size_t piece = (frame - 1) / 2;
    return std::string(frame % 2 == 1 ? "data" : "flash") + " frame " + std::to_string(piece) +
           " of " + std::to_string(pieces);
}
