// The temporaries that a signal removes: a fixed table the handler reads
// without locks or allocation, as a signal handler must; and the count of
// writers creating a temporary or placing their files, which keeps the
// handler from ending the process until they are done.
#include "files/temporary_cleanup.h"

#include <limits.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <csignal>
#include <cstring>
#include <mutex>

namespace {

// The signals that end the process by default and may wait: not a fault
// (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS) nor abort's SIGABRT,
// which would come again at once.
bool watched(int signal) {
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

sigset_t watched_set() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal = 1; signal < NSIG; ++signal) {
        if (watched(signal))
            sigaddset(&set, signal);
    }
    return set;
}

constexpr std::size_t SLOTS = 64;

struct slot {
    std::atomic<int> state{0};  // FREE, FILLING or NOTED
    char name[PATH_MAX] = {};
};
enum : int { FREE, FILLING, NOTED };

std::array<slot, SLOTS> slots;
std::mutex watch_mutex;
int watchers = 0;
std::array<struct sigaction, NSIG> previous{};
std::array<bool, NSIG> installed{};

// Writers holding the signals, in any thread, and a signal that came
// meanwhile: the handler only records it then, and the last writer to be
// done raises it. A handler may touch these only if they need no lock.
std::atomic<int> placing{0};
std::atomic<int> pending{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void remove_temporaries(int signal) {
    // Recorded first, then the count looked at: a writer that was done in
    // between finds the signal and raises it itself.
    pending.store(signal);
    if (placing.load() > 0 || pending.exchange(0) == 0)
        return;
    for (slot& s : slots) {
        if (s.state.load() == NOTED)
            unlink(s.name);
    }
    if (signal > 0 && signal < NSIG)
        sigaction(signal, &previous[static_cast<std::size_t>(signal)], nullptr);
    // Delivered as soon as this handler returns, now with the action that
    // was there before: the default one ends the process.
    raise(signal);
}

}  // namespace

void temporaries_watch() {
    const std::lock_guard lock(watch_mutex);
    if (watchers++ > 0)
        return;
    struct sigaction action {};
    action.sa_handler = remove_temporaries;
    action.sa_mask = watched_set();
    for (int signal = 1; signal < NSIG; ++signal) {
        const auto i = static_cast<std::size_t>(signal);
        installed[i] = false;
        if (!watched(signal) || sigaction(signal, nullptr, &previous[i]) != 0 ||
            (previous[i].sa_flags & SA_SIGINFO) != 0 || previous[i].sa_handler != SIG_DFL)
            continue;
        installed[i] = sigaction(signal, &action, nullptr) == 0;
    }
}

void temporaries_unwatch() {
    const std::lock_guard lock(watch_mutex);
    if (--watchers > 0)
        return;
    for (int signal = 1; signal < NSIG; ++signal) {
        const auto i = static_cast<std::size_t>(signal);
        if (installed[i])
            sigaction(signal, &previous[i], nullptr);
        installed[i] = false;
    }
}

temporaries_held::temporaries_held() {
    const sigset_t set = watched_set();
    pthread_sigmask(SIG_BLOCK, &set, &before_);
    placing.fetch_add(1);
}

temporaries_held::~temporaries_held() {
    // A signal blocked meanwhile in this thread comes now, and the handler
    // records it while the count is up.
    pthread_sigmask(SIG_SETMASK, &before_, nullptr);
    if (placing.fetch_sub(1) != 1)
        return;
    // Through the handler, where it is still installed, as if it came now.
    if (const int signal = pending.exchange(0); signal != 0)
        raise(signal);
}

int temporaries_note(const std::string& name) {
    if (name.size() >= PATH_MAX)
        return -1;
    for (std::size_t i = 0; i < SLOTS; ++i) {
        int expected = FREE;
        if (slots[i].state.compare_exchange_strong(expected, FILLING)) {
            std::memcpy(slots[i].name, name.c_str(), name.size() + 1);
            slots[i].state.store(NOTED);
            return static_cast<int>(i);
        }
    }
    return -1;
}

void temporaries_forget(int token) {
    if (token >= 0)
        slots[static_cast<std::size_t>(token)].state.store(FREE);
}
