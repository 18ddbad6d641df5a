// The run, file after file, and what it says.
#include "backup/backup_run.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>

#include "block/program.h"
#include "files/text.h"
#include "lpt/comm_log.h"
#include "platform/platform.h"

namespace {

// The card sleeps to its next base-timer tick after the PC's reply to each
// header: a frame costs half a second, a block's eight frames 4 s.
constexpr std::size_t FRAME_MS = 500;

// The signals that would end the process with D3 high: each only sets the
// flag while the run lasts.
constexpr int STOPPING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void on_signal(int) {
    backup_interrupted = 1;
}

// The signals caught from construction to destruction: no SA_RESTART, so
// that a read of standard input returns at once.
class signals_caught {
public:
    signals_caught() {
        backup_interrupted = 0;
        struct sigaction action {};
        action.sa_handler = on_signal;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(STOPPING_SIGNALS); ++i)
            sigaction(STOPPING_SIGNALS[i], &action, &earlier_[i]);
        // A closed standard error (a pipe to `head`) must not end the run
        // between two bytes.
        action.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &action, &earlier_[std::size(STOPPING_SIGNALS)]);
    }
    ~signals_caught() {
        for (std::size_t i = 0; i < std::size(STOPPING_SIGNALS); ++i)
            sigaction(STOPPING_SIGNALS[i], &earlier_[i], nullptr);
        sigaction(SIGPIPE, &earlier_[std::size(STOPPING_SIGNALS)], nullptr);
    }
    signals_caught(const signals_caught&) = delete;
    signals_caught& operator=(const signals_caught&) = delete;

private:
    struct sigaction earlier_[std::size(STOPPING_SIGNALS) + 1]{};
};

// What the core's end would do if anything in it called it: unwind to the
// file in progress, never end the run.
struct core_ended {
    int status;
};

[[noreturn]] void end_by_unwinding(int status) {
    throw core_ended{status};
}

// The core's fixed fragments with no --log: a stream that keeps nothing.
std::FILE* nowhere() {
    cookie_io_functions_t functions{};
    functions.write = [](void*, const char*, std::size_t size) -> ssize_t {
        return static_cast<ssize_t>(size);
    };
    return fopencookie(nullptr, "w", functions);
}

// The port's record holds the core's communications log: too large for the
// stack.
lpt_port& the_port() {
    static lpt_port port;
    return port;
}

std::string blocks_words(std::size_t blocks) {
    return std::to_string(blocks) + (blocks == 1 ? " block" : " blocks");
}

std::string seconds_words(std::int64_t ns) {
    const std::int64_t s = (ns + 500'000'000) / 1'000'000'000;
    if (s < 60)
        return std::to_string(s) + " s";
    return std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
}

class terminal_person final : public backup_person {
public:
    explicit terminal_person(std::FILE* err) : err_(err) {}

    bool next(std::vector<std::string>&) override {
        std::fflush(stdout);
        // An Enter pressed while the last file arrived, or pressed twice, is
        // no answer to this prompt: taken, it would raise D3 on the card's
        // file list, which then switches to receiving.
        if (isatty(STDIN_FILENO) != 0)
            tcflush(STDIN_FILENO, TCIFLUSH);
        std::fputs(
            "Choose the next file on the card and take Copy. When the card asks \"Copy ?\",\n"
            "press Enter here (Ctrl-D or Ctrl-C ends the backup).\n",
            err_);
        std::fflush(err_);
        while (true) {
            char c = 0;
            const ssize_t got = read(STDIN_FILENO, &c, 1);
            if (backup_interrupted != 0)
                return false;
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            if (c == '\n')
                return true;
        }
    }

    void go() override {
        std::fputs("Now press A on the card.\n", err_);
        std::fflush(err_);
    }

private:
    std::FILE* err_;
};

// The run's state and its words.
class run : public backup_watch {
public:
    run(const backup_command_line& cl, backup_person& person, backup_clock clock,
        backup_streams streams)
        : cl_(cl),
          person_(person),
          clock_(clock),
          s_(streams),
          terminal_(isatty(fileno(streams.err)) != 0) {}

    int go() {
        std::unique_ptr<backup_target> target = backup_make_target(cl_);
        const std::int64_t began = clock_();
        // A signal during a file's last frame or its store lets that file
        // end whole, and the run ends here, not at the next prompt.
        while ((!cl_.count || stored_.size() < *cl_.count) && backup_interrupted == 0) {
            std::vector<std::string> skipped;
            const bool going = person_.next(skipped);
            for (const std::string& line : skipped) {
                say(line);
                ++failed_;
            }
            if (!going || backup_interrupted != 0)
                break;
            std::string error;
            if (!target->begin(error)) {
                say(printable(error) + "; the backup ends here");
                ++failed_;
                break;
            }
            const bool more = one_file(*target);
            target->end();
            if (!more)
                break;
        }
        summary(clock_() - began);
        return failed_ == 0 ? 0 : 1;
    }

    void frame_done(const backup_file& file, std::size_t frame) override {
        person_.frame_done(frame);
        if (!terminal_ || frame < 2)
            return;
        const std::string line =
            backup_progress_line(printable(backup_file_name(file)), file.blocks, frame);
        std::fprintf(s_.err, "\r%s\033[K", line.c_str());
        std::fflush(s_.err);
        line_open_ = true;
    }

private:
    void say(const std::string& line) {
        std::fflush(s_.out);
        std::fprintf(s_.err, "%s%s: %s\n", line_open_ ? "\n" : "", BACKUP_TOOL, line.c_str());
        std::fflush(s_.err);
        line_open_ = false;
    }

    // One file, D3 high from the port's opening to its closing. False when
    // the run cannot go on.
    bool one_file(backup_target& target) {
        lpt_port& port = the_port();
        if (lpt_open(cl_.device.c_str(), port) != 1) {
            say("cannot open the port " + cl_.device + ": " + std::strerror(errno) +
                "; the backup ends here");
            ++failed_;
            return false;
        }
        person_.go();
        backup_outcome outcome;
        try {
            outcome = backup_receive(port, target, *this);
        } catch (const core_ended& ended) {
            outcome.end = backup_end::failed;
            outcome.reason = "the link ended with status " + std::to_string(ended.status);
        }
        lpt_close(port);  // D3 low: the card leaves Copy
        if (line_open_) {
            std::fputs("\n", s_.err);
            line_open_ = false;
        }
        return told(target, outcome);
    }

    // The outcome in words, the file stored if it is whole.
    bool told(backup_target& target, const backup_outcome& o) {
        const std::string name =
            o.named ? printable(backup_file_name(o.file)) : std::string("the file");
        const std::string kind = o.file.game ? "game" : "data";
        switch (o.end) {
            case backup_end::arrived: {
                std::string where;
                std::string error;
                if (!target.store(o.file, where, error)) {
                    say(name + ": arrived, but cannot be stored: " + printable(error) +
                        "; the card shows \"Copied\", and the target is as it was");
                    ++failed_;
                    return true;
                }
                std::fflush(s_.err);
                std::fprintf(s_.out, "stored %s (%s, %s) in %s\n", name.c_str(), kind.c_str(),
                             blocks_words(o.file.blocks).c_str(), printable(where).c_str());
                std::fflush(s_.out);
                stored_.push_back(name);
                blocks_ += o.file.blocks;
                return true;
            }
            case backup_end::no_ready:
                say("no ready signal from the card. If it shows \"Unable to copy\", the file is "
                    "copy-protected and the card will not send it; \"Connect VM\" or \"Copy ?\" "
                    "still: D3 did not reach it (check the cable) or A was not pressed in time. "
                    "Nothing was stored; press B on the card and choose the next file");
                ++failed_;
                return true;
            case backup_end::refused: {
                const char* screen = o.named ? "Same file exists" : "Not enough free memory";
                say(name + ": refused: " + printable(o.reason) + "; the card shows \"" + screen +
                    "\". Nothing was stored; " + o.remedy + ", then choose the next file");
                ++failed_;
                return true;
            }
            case backup_end::failed:
                say(name + ": " + printable(o.reason) +
                    "; the card shows \"Copy failed\". Nothing of it was stored; choose it again "
                    "and take Copy");
                ++failed_;
                return true;
            case backup_end::interrupted:
                say(name + ": " + o.reason + "; nothing of it was stored");
                ++failed_;
                return false;
        }
        return true;
    }

    void summary(std::int64_t ns) {
        if (backup_interrupted != 0)
            say("stopped: D3 is low");
        std::fflush(s_.err);
        std::string line = std::to_string(stored_.size()) +
                           (stored_.size() == 1 ? " file stored" : " files stored");
        if (!stored_.empty()) {
            line += " (" + blocks_words(blocks_) + " in " + seconds_words(ns) + "):";
            for (const std::string& name : stored_)
                line += " " + name;
        }
        if (failed_ > 0)
            line += "; " + std::to_string(failed_) + " not";
        std::fprintf(s_.out, "%s\n", line.c_str());
        std::fflush(s_.out);
    }

    const backup_command_line& cl_;
    backup_person& person_;
    backup_clock clock_;
    backup_streams s_;
    bool terminal_;
    bool line_open_ = false;
    std::vector<std::string> stored_;
    std::size_t blocks_ = 0;
    std::size_t failed_ = 0;
};

}  // namespace

std::unique_ptr<backup_person> backup_terminal_person(std::FILE* err) {
    return std::make_unique<terminal_person>(err);
}

int backup_run(const backup_command_line& cl, backup_person& person, backup_clock clock,
               backup_streams streams) {
    std::FILE* log = nullptr;
    if (!cl.log.empty()) {
        // A new file, never one that is there.
        log = std::fopen(cl.log.c_str(), "wx");
        if (log == nullptr) {
            std::fprintf(streams.err, "%s: %s: %s; nothing was received\n", BACKUP_TOOL,
                         printable(cl.log).c_str(), std::strerror(errno));
            return 1;
        }
    } else {
        log = nowhere();
    }
    set_link_output(log);
    set_program_end(end_by_unwinding);
    int status = 1;
    {
        const signals_caught caught;
        status = run(cl, person, clock, streams).go();
    }
    set_program_end(nullptr);
    set_link_output(nullptr);
    if (log != nullptr && std::fclose(log) != 0 && !cl.log.empty()) {
        std::fprintf(streams.err, "%s: %s: %s\n", BACKUP_TOOL, printable(cl.log).c_str(),
                     std::strerror(errno));
        status = 1;
    }
    return status;
}

int backup_main(int argc, char* argv[], const std::string& usage, backup_person* person,
                backup_clock clock) {
    backup_command_line cl;
    if (const int status = backup_read_command_line(argc, argv, usage, cl); status >= 0)
        return status;
    // D3 low before the first prompt, whatever an earlier program left on
    // the port (a card on its file list that saw it high would switch to
    // receiving); and a port this user may not open is told before anyone
    // takes Copy.
    std::uint16_t base = 0;
    if (!lpt_parse_port(cl.device.c_str(), base) || !port_acquire(base)) {
        std::fprintf(stderr, "%s: cannot open the port %s: %s\n", BACKUP_TOOL,
                     printable(cl.device).c_str(), std::strerror(errno));
        return 1;
    }
    port_write(base, DATA_SEND_CLOCK);
    port_release();
    std::unique_ptr<backup_person> terminal;
    if (person == nullptr) {
        terminal = backup_terminal_person();
        person = terminal.get();
    }
    return backup_run(cl, *person, clock);
}

std::string backup_progress_line(const std::string& name, std::size_t blocks, std::size_t frame) {
    const std::size_t pieces = blocks * CABLE_PIECES_PER_BLOCK;
    const std::size_t frames = 2 * pieces + 4;
    const std::size_t done_pieces = frame < 3 ? 0 : std::min((frame - 1) / 2, pieces);
    const std::size_t block = (done_pieces + CABLE_PIECES_PER_BLOCK - 1) / CABLE_PIECES_PER_BLOCK;
    const std::size_t left_ms = (frames - std::min(frame, frames)) * FRAME_MS;
    return name + ": block " + std::to_string(block) + " of " + std::to_string(blocks) +
           ", about " + std::to_string((left_ms + 999) / 1000) + " s left";
}
