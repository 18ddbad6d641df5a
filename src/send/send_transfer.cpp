// The transfer, frame by frame, and the card's answers in words.
#include "send/send_transfer.h"

#include <unistd.h>

#include <cinttypes>
#include <cmath>

#include "lpt/byte_exchange.h"
#include "platform/platform.h"
#include "send/send_link.h"

namespace {

// D3 low first, for as long as the card takes to notice (it looks once per
// tick of its base timer), so that a card left in receive mode by an
// earlier run leaves it; then D3 high for as long again, with a tick to
// spare, for the file list to switch to "Waiting for data".
constexpr unsigned LEAVE_MS = CABLE_RECEIVE_LOOK_MS + 100;
constexpr unsigned ENTER_MS = 2 * CABLE_RECEIVE_LOOK_MS;
// The card lowers Select once it listens for the first header (the
// firmware, run on an interpreter, did so 550 ms after D3 rose) and loses a
// header that comes within about 15 ms of that fall. So the first header
// waits until Select has read low for this long, with a margin; and a
// card whose Select stays high (a cable without it) gets it after ENTER_MS.
constexpr unsigned SELECT_SETTLE_MS = 25;
// The first header again after two units of status reads without a reply
// (two seconds or more on a real port, four looks of the card), five times.
// Not sooner: a card that took the header answers it at its next look, up
// to half a second later, and its receiver takes nothing until that answer
// is over, so a header sent again meanwhile would be lost; whether a real
// card instead keeps it as the frame's next byte is not confirmed, and the
// wide spacing keeps clear of that too.
constexpr std::int64_t FIRST_LOOK_POLLS = 2 * std::int64_t{POLLS_PER_UNIT};
constexpr int FIRST_HEADER_TRIES = 5;
// Any later reply or answer comes within milliseconds; a frame's flash
// writes take the longest.
constexpr std::int64_t ANSWER_POLLS = std::int64_t{BLOCK_TIMEOUT} * POLLS_PER_UNIT;

struct run {
    lpt_port& port;
    const send_item& item;
    const send_settings& settings;
    std::size_t blocks;
    std::int64_t started_ns = 0;  // when the first data frame went out
    bool line_open = false;       // the progress line on a terminal, not yet ended
};

const char* const UNCHANGED = "; the card keeps its files as they were";
const char* const UNCERTAIN = ": the card may hold the file all the same; look at its file list";

void say(run& r, const std::string& line) {
    std::fflush(stdout);
    std::fprintf(r.settings.err, "%s%s: %s\n", r.line_open ? "\n" : "", SEND_TOOL, line.c_str());
    r.line_open = false;
}

int fail(run& r, const std::string& message, bool unchanged = true) {
    say(r, message + (unchanged ? UNCHANGED : ""));
    return 1;
}

std::string hex(int byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(byte) & 0xFF);
    return text;
}

std::string blocks_words(std::size_t blocks) {
    return std::to_string(blocks) + (blocks == 1 ? " block" : " blocks");
}

// Sends byte `i` of a frame; past the header, the echo during it must be
// the byte before. False after the message.
bool put(run& r, std::size_t frame, const std::vector<std::uint8_t>& bytes, std::size_t i) {
    const std::uint8_t echo = send_byte_echoed(r.port, bytes[i]);
    if (!r.settings.echo_check || i == 0 || echo == bytes[i - 1])
        return true;
    std::string message = "the echo on Select shows " + hex(echo) + " for byte " +
                          std::to_string(i - 1) + " of frame " + std::to_string(frame + 1) + " (" +
                          send_frame_words(frame, r.blocks) + "), which was " + hex(bytes[i - 1]) +
                          ": the card took it wrong";
    if (echo == 0xFF)
        message += ", or Select is not wired (for a cable without it, --no-echo-check)";
    // The echo of a frame's last byte but one comes as its last byte goes:
    // the card has the whole frame by then, and the last one ends with the
    // file written.
    const bool complete = frame + 1 == cable_frame_count(r.blocks) && i + 1 == bytes.size();
    fail(r, message + (complete ? UNCERTAIN : ""), !complete);
    return false;
}

// The card's byte after a header or frame, within `polls` status reads: 0
// to 255, READ_TIMEOUT when its levels stopped within it, or -1 when none
// began.
int card_byte(run& r, std::int64_t polls) {
    if (!send_await_card(r.port, polls))
        return -1;
    return send_take_answer(r.port);
}

// The first header, sent again until the card looks.
int first_reply(run& r, std::uint8_t header) {
    for (int attempt = 0; attempt < FIRST_HEADER_TRIES && send_interrupted == 0; ++attempt) {
        if (!put(r, 0, {header}, 0))
            return -1;
        const int reply = card_byte(r, FIRST_LOOK_POLLS);
        if (reply != -1)
            return reply;
    }
    return -1;
}

std::string garbled(const std::string& what, int byte) {
    return "the card's " + what + " came garbled (" +
           (byte == READ_TIMEOUT ? std::string("its levels stopped") : hex(byte)) +
           "): this PC may have paused while the card answered (vmurx-probe tells whether "
           "it keeps the card's pace)";
}

// A refusal in words: what the card refuses at each frame.
std::string refusal(const run& r, std::size_t frame) {
    const std::string name = send_name_text(r.item);
    switch (cable_frame_at(frame, r.blocks)) {
        case cable_frame::start:
            // A full directory is not refused here: the card looks for a
            // free entry only with the last frame.
            return "the card has no room for " + blocks_words(r.blocks) +
                   (r.item.game ? " (a game needs them free from block 0)"
                                : " (a data file needs them free)");
        case cable_frame::name:
            return r.item.game ? "the card refused the name " + name
                               : "a data file named " + name + " is on the card already";
        case cable_frame::data:
            return "the card refused " + send_frame_words(frame, r.blocks);
        case cable_frame::flash:
            return "the card could not write " + send_frame_words(frame, r.blocks) +
                   " to its flash";
        case cable_frame::directory:
            return "the card refused the directory entry";
        case cable_frame::last_flash:
            break;
    }
    // The card writes the file's blocks and its FAT before it looks for a
    // free directory entry, and looks only in the directory's first block:
    // a refusal here may leave the blocks taken by no file.
    return "the card refused the last frame, which writes the file's directory entry: it found "
           "no free entry among the first 16 of its directory (the only ones it looks at), or "
           "its flash failed. It wrote the file and its FAT before that, so " +
           blocks_words(r.blocks) +
           " may now be taken by no file and not free. Delete a file on the card so that fewer "
           "than 16 are left, then send again; the blocks taken stay so until the card is "
           "formatted";
}

// D3 has risen: waits until the first header is due, a millisecond's
// sleep at a time, counting sleeps rather than reading a clock, so that a
// counting card sees the same waits.
void await_listening(run& r) {
    unsigned low_ms = 0;
    for (unsigned waited = 0; !send_first_header_due(waited, low_ms) && send_interrupted == 0;
         ++waited) {
        sleep_ms(1);
        low_ms = send_select_low(r.port) ? low_ms + 1 : 0;
    }
}

// Header, reply, the frame's bytes and the answer. 0 when accepted, else 1
// after the message.
int one_frame(run& r, std::size_t frame) {
    const std::vector<std::uint8_t> bytes = send_frame(r.item, frame);
    const std::string words = send_frame_words(frame, r.blocks);
    const bool last = frame + 1 == cable_frame_count(r.blocks);
    int reply = -1;
    if (frame == 0) {
        reply = first_reply(r, bytes[0]);
    } else if (put(r, frame, bytes, 0)) {
        reply = card_byte(r, ANSWER_POLLS);
    } else {
        return 1;
    }
    if (send_interrupted != 0)
        return fail(r, "interrupted");
    if (reply == -1 && frame == 0) {
        return fail(r,
                    "no answer from the card: is it showing its file list, with the cable in? "
                    "Then it shows \"Waiting for data\" while vmurx-send runs");
    }
    if (reply == -1)
        return fail(r, "the card stopped answering during " + words);
    if (reply != HEADER_REPLY)
        return fail(r, garbled("reply to the header of " + words, reply));
    for (std::size_t i = 1; i < bytes.size(); ++i) {
        if (send_interrupted != 0)
            return fail(r, "interrupted");
        if (!put(r, frame, bytes, i))
            return 1;
    }
    const int answer = card_byte(r, ANSWER_POLLS);
    if (answer == BLOCK_ACK)
        return 0;
    if (answer == BLOCK_NAK)
        return fail(r, refusal(r, frame), !last);
    const std::string uncertain = last ? UNCERTAIN : "";
    if (answer == -1 && send_interrupted != 0)
        return fail(r, "interrupted" + uncertain, !last);
    if (answer == -1)
        return fail(r, "the card stopped answering during " + words + uncertain, !last);
    return fail(r, garbled("answer to " + words, answer) + uncertain, !last);
}

void progress(run& r, std::size_t done) {
    if (r.settings.quiet)
        return;
    const double seconds = static_cast<double>(r.settings.clock() - r.started_ns) / 1e9;
    const std::string line = send_progress_line(done, r.blocks, seconds);
    std::fflush(stdout);
    if (isatty(fileno(r.settings.err)) != 0) {
        r.line_open = done != r.blocks;
        std::fprintf(r.settings.err, "\r%s: %s\033[K%s", SEND_TOOL, line.c_str(),
                     r.line_open ? "" : "\n");
    } else {
        std::fprintf(r.settings.err, "%s: %s\n", SEND_TOOL, line.c_str());
    }
    std::fflush(r.settings.err);
}

int all_frames(run& r) {
    const std::size_t frames = cable_frame_count(r.blocks);
    for (std::size_t frame = 0; frame < frames; ++frame) {
        if (frame == 2)
            r.started_ns = r.settings.clock();
        mask_interrupts();
        const int status = one_frame(r, frame);
        unmask_interrupts();
        if (status != 0)
            return status;
        // The flash frame of a block's last piece: the block is sent.
        const std::size_t piece_frames = 2 * CABLE_PIECES_PER_BLOCK;
        if (frame >= 2 && frame < 2 + r.blocks * piece_frames && (frame - 1) % piece_frames == 0)
            progress(r, (frame - 1) / piece_frames);
    }
    return 0;
}

}  // namespace

bool send_first_header_due(unsigned waited_ms, unsigned low_ms) {
    // Past ENTER_MS, waiting on while Select fell less than SELECT_SETTLE_MS
    // ago; for ENTER_MS more at most, for a Select that flickers.
    if (waited_ms >= 2 * ENTER_MS)
        return true;
    return waited_ms >= ENTER_MS && (low_ms == 0 || low_ms >= SELECT_SETTLE_MS);
}

std::string send_frame_words(std::size_t index, std::size_t blocks) {
    switch (cable_frame_at(index, blocks)) {
        case cable_frame::start:
            return "the start frame";
        case cable_frame::name:
            return "the name frame";
        case cable_frame::data:
        case cable_frame::flash:
            return "block " + std::to_string((index - 2) / (2 * CABLE_PIECES_PER_BLOCK) + 1);
        case cable_frame::directory:
            return "the directory frame";
        case cable_frame::last_flash:
            break;
    }
    return "the last frame";
}

std::string send_progress_line(std::size_t done, std::size_t total, double seconds) {
    std::string line = "block " + std::to_string(done) + " of " + std::to_string(total);
    if (done == 0 || seconds <= 0)
        return line;
    const double rate = static_cast<double>(done) / seconds;
    char figures[64];
    std::snprintf(figures, sizeof figures, ", %.2f blocks/s", rate);
    line += figures;
    if (done >= total)
        return line;
    const auto left = static_cast<long>(std::lround(static_cast<double>(total - done) / rate));
    if (left >= 60) {
        std::snprintf(figures, sizeof figures, ", %ld min %02ld s left", left / 60, left % 60);
    } else {
        std::snprintf(figures, sizeof figures, ", %ld s left", left);
    }
    return line + figures;
}

int send_transfer(lpt_port& port, const send_item& item, const send_settings& settings) {
    run r{port, item, settings, send_blocks(item)};
    if (!settings.quiet) {
        say(r, send_name_text(item) + ", a " + (item.game ? "game" : "data file") + " of " +
                   blocks_words(r.blocks) + ": waiting for the card");
    }
    send_set_peer(port, false);
    sleep_ms(LEAVE_MS);
    send_set_peer(port, true);
    await_listening(r);
    const std::int64_t begun = settings.clock();
    const int status = all_frames(r);
    send_set_peer(port, false);
    if (status == 0 && !settings.quiet) {
        const double seconds = static_cast<double>(settings.clock() - begun) / 1e9;
        char took[32];
        std::snprintf(took, sizeof took, "%.1f s", seconds);
        say(r, "the card took " + send_name_text(item) + " (" + blocks_words(r.blocks) + ") in " +
                   took);
    }
    return status;
}
