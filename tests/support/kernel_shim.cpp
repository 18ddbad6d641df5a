// The part of the kernel stand-ins that does not depend on the device: the
// software VMU's set-up, the scheduling watch, the report, and the system
// calls every stand-in interposes, which hand the device's own paths and
// descriptors to its hooks.
#include "kernel_shim.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "emu/emu_options.h"

namespace {

constexpr const char* RT_RUNTIME = "/proc/sys/kernel/sched_rt_runtime_us";

int current_nice() {
    REAL(getpriority);
    errno = 0;
    return real_getpriority(PRIO_PROCESS, 0);
}

int current_policy() {
    REAL(sched_getscheduler);
    return real_sched_getscheduler(0) & ~SCHED_RESET_ON_FORK;
}

void drop_nice_permission(int nice_limit) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) == 0) {
        const unsigned bit = 1U << (CAP_SYS_NICE % 32);
        data[CAP_SYS_NICE / 32].effective &= ~bit;
        data[CAP_SYS_NICE / 32].permitted &= ~bit;
        data[CAP_SYS_NICE / 32].inheritable &= ~bit;
        syscall(SYS_capset, &header, data);
    }
    const rlimit no_rt{0, 0};
    setrlimit(RLIMIT_RTPRIO, &no_rt);
    const rlimit nice{static_cast<rlim_t>(nice_limit), static_cast<rlim_t>(nice_limit)};
    setrlimit(RLIMIT_NICE, &nice);
}

__attribute__((constructor)) void start() {
    const char* nice = std::getenv("VMURX_SHIM_NICE");
    if (nice != nullptr) {
        REAL(setpriority);
        real_setpriority(PRIO_PROCESS, 0, std::atoi(nice));
    }
    if (std::getenv("VMURX_SHIM_DENY_NICE") != nullptr)
        drop_nice_permission(env_int("VMURX_SHIM_DENY_NICE", 0));
    kernel_shim& s = shim();
    s.start_nice = current_nice();
    s.start_policy = current_policy();
    s.lowest_nice = s.start_nice;
}

__attribute__((destructor)) void finish() {
    const char* path = std::getenv("VMURX_SHIM_REPORT");
    if (path == nullptr)
        return;
    kernel_shim& s = shim();
    long long masked_bytes = 0;
    for (const vmu_pc_byte& byte : s.vmu.pc_bytes)
        masked_bytes += byte.masked ? 1 : 0;
    std::FILE* report = std::fopen(path, "w");
    if (report == nullptr)
        return;
    for (const auto& [key, value] : s.counts)
        std::fprintf(report, "%s %lld\n", key.c_str(), value);
    device_report(report);
    if (s.receiving) {
        std::fprintf(report, "receive_outcome %d\n", static_cast<int>(s.receive.card.outcome));
        for (const std::string& note : s.receive.card.notes)
            std::fprintf(report, "note %s\n", note.c_str());
    }
    std::fprintf(report, "sim_status_reads %llu\n",
                 static_cast<unsigned long long>(s.vmu.status_reads));
    std::fprintf(report, "sim_unmasked_reads %llu\n",
                 static_cast<unsigned long long>(s.vmu.unmasked_reads));
    std::fprintf(report, "sim_data_writes %zu\n", s.vmu.data_writes.size());
    std::fprintf(report, "sim_pc_bytes %zu\n", s.vmu.pc_bytes.size());
    std::fprintf(report, "sim_masked_pc_bytes %lld\n", masked_bytes);
    std::fprintf(report, "sim_complaints %zu\n", s.vmu.complaints.size());
    std::fprintf(report, "sim_finished %d\n", vmu_sim_finished(s.vmu) ? 1 : 0);
    std::fprintf(report, "start_nice %d\n", s.start_nice);
    std::fprintf(report, "lowest_nice %d\n", s.lowest_nice);
    std::fprintf(report, "saw_fifo %d\n", s.saw_fifo ? 1 : 0);
    std::fprintf(report, "end_nice %d\n", current_nice());
    std::fprintf(report, "end_policy %d\n", current_policy());
    std::fprintf(report, "start_policy %d\n", s.start_policy);
    if (!s.first_masked_call.empty())
        std::fprintf(report, "first_masked_call %s\n", s.first_masked_call.c_str());
    for (const std::string& complaint : s.vmu.complaints)
        std::fprintf(report, "complaint %s\n", complaint.c_str());
    std::fclose(report);
}

// After a scheduling change: is the tool raised now?
void update_masked(const char* name) {
    kernel_shim& s = shim();
    const int nice = current_nice();
    const int policy = current_policy();
    const bool fifo = policy == SCHED_FIFO || policy == SCHED_RR;
    const bool masked = fifo || nice < s.start_nice;
    s.saw_fifo = s.saw_fifo || fifo;
    if (nice < s.lowest_nice)
        s.lowest_nice = nice;
    if (masked == s.masked) {
        note_call(name);  // a call that changed nothing
    } else {
        count(masked ? "raises" : "lowers");
    }
    s.masked = masked;
    s.vmu.masked = masked;
}

std::string redirect(const char* path) {
    if (const char* file = replacement(path, RT_RUNTIME, "VMURX_SHIM_RT_RUNTIME"))
        return file;
    return device_redirect(path);
}

int any_open(const char* path, int flags, mode_t mode) {
    note_call("open");
    int fd = -1;
    if (device_open(path, flags, fd))
        return fd;
    REAL(open);
    return real_open(redirect(path).c_str(), flags, mode);
}

mode_t mode_argument(int flags, std::va_list arguments) {
    const bool has_mode = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
    return has_mode ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

}  // namespace

kernel_shim& shim() {
    static kernel_shim* state = new kernel_shim;  // never destroyed: used until the very end
    return *state;
}

int env_int(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::atoi(text) : fallback;
}

void shim_configure() {
    kernel_shim& s = shim();
    if (s.configured)
        return;
    s.configured = true;
    if (const char* receiving = std::getenv("VMURX_SHIM_RECEIVE")) {
        shim_configure_receiving(receiving);
        device_configure();
        return;
    }
    // The stand-in's card is the scripted protocol card, whose every level
    // the tests count in status reads.
    std::vector<std::string> args{"--scripted"};
    std::stringstream options(std::getenv("VMURX_SHIM_VMU") ? std::getenv("VMURX_SHIM_VMU") : "");
    for (std::string word; options >> word;)
        args.push_back(word);
    emu_options parsed;
    std::string error;
    if (!emu_parse_options(args, s.vmu, parsed, error)) {
        std::fprintf(stderr, "kernel stand-in: %s\n", error.c_str());
        std::abort();
    }
    device_configure();
}

void count(const std::string& key) {
    ++shim().counts[key];
}

void note_call(const char* name) {
    kernel_shim& s = shim();
    if (!s.masked || s.in_card)
        return;
    count("calls_while_masked");
    if (s.first_masked_call.empty())
        s.first_masked_call = name;
}

const char* replacement(const char* path, const char* prefix, const char* variable) {
    const char* target = std::getenv(variable);
    const std::size_t length = std::strlen(prefix);
    if (target == nullptr || std::strncmp(path, prefix, length) != 0 ||
        (path[length] != '\0' && path[length] != '/')) {
        return nullptr;
    }
    return target;
}

extern "C" {

int open(const char* path, int flags, ...) {
    std::va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = mode_argument(flags, arguments);
    va_end(arguments);
    return any_open(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    std::va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = mode_argument(flags, arguments);
    va_end(arguments);
    return any_open(path, flags, mode);
}

int __open_2(const char* path, int flags) {
    return any_open(path, flags, 0);
}

int __open64_2(const char* path, int flags) {
    return any_open(path, flags, 0);
}

int openat(int directory, const char* path, int flags, ...) {
    std::va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = mode_argument(flags, arguments);
    va_end(arguments);
    if (path[0] == '/')
        return any_open(path, flags, mode);
    note_call("openat");
    REAL(openat);
    return real_openat(directory, path, flags, mode);
}

DIR* opendir(const char* path) {
    note_call("opendir");
    REAL(opendir);
    return real_opendir(redirect(path).c_str());
}

int close(int fd) {
    note_call("close");
    device_close(fd);
    REAL(close);
    return real_close(fd);
}

int ioctl(int fd, unsigned long request, ...) noexcept {
    std::va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    int result = -1;
    if (device_ioctl(fd, request, argument, result))
        return result;
    note_call("ioctl");
    REAL(ioctl);
    return real_ioctl(fd, request, argument);
}

int setpriority(int which, id_t who, int value) noexcept {
    REAL(setpriority);
    const int result = real_setpriority(which, who, value);
    const int saved = errno;
    count("setpriority_calls");
    update_masked("setpriority");
    errno = saved;
    return result;
}

int sched_setscheduler(pid_t pid, int policy, const sched_param* param) noexcept {
    REAL(sched_setscheduler);
    const int result = real_sched_setscheduler(pid, policy, param);
    const int saved = errno;
    count("sched_setscheduler_calls");
    update_masked("sched_setscheduler");
    errno = saved;
    return result;
}

int getpriority(int which, id_t who) noexcept {
    note_call("getpriority");
    REAL(getpriority);
    return real_getpriority(which, who);
}

int sched_getscheduler(pid_t pid) noexcept {
    note_call("sched_getscheduler");
    REAL(sched_getscheduler);
    return real_sched_getscheduler(pid);
}

int sched_getparam(pid_t pid, sched_param* param) noexcept {
    note_call("sched_getparam");
    REAL(sched_getparam);
    return real_sched_getparam(pid, param);
}

int sched_yield() noexcept {
    note_call("sched_yield");
    REAL(sched_yield);
    return real_sched_yield();
}

int nanosleep(const timespec* request, timespec* remaining) {
    note_call("nanosleep");
    shim_pass_card_time(*request);
    REAL(nanosleep);
    return real_nanosleep(request, remaining);
}

int clock_nanosleep(clockid_t clock, int flags, const timespec* request, timespec* remaining) {
    note_call("clock_nanosleep");
    if ((flags & TIMER_ABSTIME) == 0)
        shim_pass_card_time(*request);
    REAL(clock_nanosleep);
    return real_clock_nanosleep(clock, flags, request, remaining);
}

int mlockall(int flags) noexcept {
    note_call("mlockall");
    count("mlockall_calls");
    REAL(mlockall);
    return real_mlockall(flags);
}

int munlockall() noexcept {
    note_call("munlockall");
    REAL(munlockall);
    return real_munlockall();
}

}  // extern "C"
