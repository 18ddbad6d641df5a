// Naming, creating, writing and time-stamping the output file.
#include "main/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
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
    // No hidden file whose content the card chooses (".profile" in a home
    // directory), and "." and ".." become ordinary names.
    if (name_buffer[0] == '.')
        name_buffer[0] = '_';
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

namespace {

// Whether `signal` ends the process by default and may wait: a fault
// (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS) or abort's SIGABRT
// would come again at once and is left alone.
bool ends_and_may_wait(int signal) {
    switch (signal) {
        case SIGHUP:
        case SIGINT:
        case SIGQUIT:
        case SIGPIPE:
        case SIGALRM:
        case SIGTERM:
        case SIGUSR1:
        case SIGUSR2:
        case SIGXCPU:
        case SIGXFSZ:
        case SIGVTALRM:
        case SIGPROF:
        case SIGPOLL:
        case SIGPWR:
        case SIGSTKFLT:
            return true;
        default:
            return signal >= SIGRTMIN && signal <= SIGRTMAX;
    }
}

// The first signal that came while the image was stored, and whether the
// store still looks for one as it ends.
std::atomic<int> waiting_signal{0};
std::atomic<bool> storing{false};
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void note_waiting_signal(int signal) {
    int none = 0;
    waiting_signal.compare_exchange_strong(none, signal);
    // Recorded first, then the store looked at: a handler in another thread
    // that records its signal only once the store has put the actions back
    // and looked ends the process itself, with the action now restored.
    if (!storing.load()) {
        if (const int waiting = waiting_signal.exchange(0); waiting != 0)
            raise(waiting);
    }
}

// While one lives, every signal that would end the process there and then,
// in whichever of its threads, only waits: the image is written whole, or
// emptied, before the signal ends the process as it would have. A signal the
// program handles or ignores is left as it is.
class signals_wait {
public:
    signals_wait() {
        waiting_signal.store(0);
        storing.store(true);
        struct sigaction action {};
        action.sa_handler = note_waiting_signal;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        for (int signal = 1; signal < NSIG; ++signal) {
            if (ends_and_may_wait(signal))
                sigaddset(&action.sa_mask, signal);
        }
        for (int signal = 1; signal < NSIG; ++signal) {
            const auto i = static_cast<std::size_t>(signal);
            replaced_[i] =
                ends_and_may_wait(signal) && sigaction(signal, nullptr, &previous_[i]) == 0 &&
                (previous_[i].sa_flags & SA_SIGINFO) == 0 && previous_[i].sa_handler == SIG_DFL &&
                sigaction(signal, &action, nullptr) == 0;
        }
    }
    ~signals_wait() {
        const int failure = errno;  // what store_image reports
        for (int signal = 1; signal < NSIG; ++signal) {
            const auto i = static_cast<std::size_t>(signal);
            if (replaced_[i])
                sigaction(signal, &previous_[i], nullptr);
        }
        storing.store(false);
        // Now with its default action: it ends the process here.
        if (const int signal = waiting_signal.exchange(0); signal != 0)
            raise(signal);
        errno = failure;
    }
    signals_wait(const signals_wait&) = delete;
    signals_wait& operator=(const signals_wait&) = delete;

private:
    std::array<struct sigaction, NSIG> previous_{};
    std::array<bool, NSIG> replaced_{};
};

// A write that failed may have put part of the image in the file (a full
// disk takes what fits): such a file looks like a save and is not one. The
// file is emptied, as it was before the write, and what is left in the
// stream's buffer is dropped, so that the process exit, which closes the
// stream, writes nothing more. errno still tells the write's failure.
bool empty_after_failure(std::FILE* stream) {
    const int failure = errno;
    __fpurge(stream);
    // Nothing more can be done where even this fails; the write's failure
    // is reported all the same.
    [[maybe_unused]] const int emptied = ftruncate(fileno(stream), 0);
    errno = failure;
    return false;
}

}  // namespace

bool store_image(std::FILE* stream, std::span<const std::uint8_t> image,
                 std::span<const std::uint8_t> directory_block) {
    // An image is written in more than one call (8,192 bytes and then 1,024):
    // a signal between them would leave the first part under the name.
    const signals_wait wait;
    // After a failed write or flush the stream is left, empty, for the
    // process exit to close.
    if (!image.empty() && std::fwrite(image.data(), image.size(), 1, stream) != 1)
        return empty_after_failure(stream);
    // Part of the image may still sit in the stream's buffer: a failure to
    // flush it loses data just as a failed write does. It is flushed before
    // the times are set, so that no later write changes them.
    if (std::fflush(stream) != 0)
        return empty_after_failure(stream);
    // By descriptor, not by name: a name can be swapped for a symbolic link
    // between the write and this call, the open file cannot.
    set_file_times(fileno(stream), directory_block);
    return std::fclose(stream) == 0;
}

// The save library has its own stamp module (save/stamp.h), with checks this
// does not want: the tool stores whatever the card sends and keeps the times
// of writing where mktime fails. It is written again here because the core
// links nothing but the platform seam, never the save library.
void set_file_times(int descriptor, std::span<const std::uint8_t> directory_block) {
    std::tm time{};
    time.tm_year = bcd_to_int(directory_block[1]) + 100 * bcd_to_int(directory_block[0]) - 1900;
    time.tm_mon = bcd_to_int(directory_block[2]) - 1;
    time.tm_mday = bcd_to_int(directory_block[3]);
    time.tm_hour = bcd_to_int(directory_block[4]);
    time.tm_min = bcd_to_int(directory_block[5]);
    time.tm_sec = bcd_to_int(directory_block[6]);
    time.tm_isdst = 0;  // the stamp is standard time, also in summer
    // -1 is also the real instant one second before 1970: only errno tells a
    // failure from it.
    errno = 0;
    const std::time_t stamp = std::mktime(&time);
    if (stamp == static_cast<std::time_t>(-1) && errno != 0)
        return;  // keep the times of writing
    const timespec times[2] = {{stamp, 0}, {stamp, 0}};
    futimens(descriptor, times);
}
