// A stand-in for the kernel's parallel-port support, preloaded (LD_PRELOAD)
// into the unmodified vmurx program so that its real Linux backend runs a
// whole transfer against the software VMU.
//
// It answers what the backend asks the kernel: the list of ports under
// /proc/sys/dev/parport (redirected to a directory the test made), the ppdev
// nodes /dev/parportN (open, close and the ioctls, with the kernel's rules:
// PPEXCL only before the claim, no register access before PPCLAIM, an
// exclusive claim refused with ENXIO while another driver is registered),
// ioperm, and the real-time throttle. It watches the scheduling calls to know
// when the tool has raised itself ("masked"), and counts everything else the
// process asks for meanwhile. At exit it writes what it saw as "key value"
// lines to the report file.
//
// Configured by the environment:
//   VMURX_SHIM_PROCFS      directory standing in for /proc/sys/dev/parport
//   VMURX_SHIM_RT_RUNTIME  file standing in for /proc/sys/kernel/sched_rt_runtime_us
//   VMURX_SHIM_NODES       comma-separated N whose /dev/parportN exists (default 0)
//   VMURX_SHIM_OPEN_ERRNO  errno for every open of a node (default 0: opens)
//   VMURX_SHIM_HOLDER      none | lp | exclusive: who else has the port
//   VMURX_SHIM_IOPERM_ERRNO  errno of ioperm (default ENOSYS; it never succeeds)
//   VMURX_SHIM_VMU         the software VMU's options, separated by spaces
//   VMURX_SHIM_NICE        nice value to start from
//   VMURX_SHIM_DENY_NICE   nonzero: drop CAP_SYS_NICE and set RLIMIT_RTPRIO to 0
//                          and RLIMIT_NICE to this value
//   VMURX_SHIM_REPORT      where to write the report
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "emu/emu_options.h"
#include "vmu/vmu_sim.h"

namespace {

template <typename Function>
Function next_definition(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// The definition this shim hides, looked up once.
#define REAL(name) static const auto real_##name = next_definition<decltype(&::name)>(#name)

constexpr const char* PROCFS_ROOT = "/proc/sys/dev/parport";
constexpr const char* RT_RUNTIME = "/proc/sys/kernel/sched_rt_runtime_us";
constexpr const char* NODE_PREFIX = "/dev/parport";

int env_int(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::atoi(text) : fallback;
}

struct node_file {
    int fd = -1;
    bool exclusive_wish = false;
    bool claimed = false;
};

struct shim_state {
    bool configured = false;
    std::string holder = "none";
    std::vector<int> nodes{0};
    int open_errno = 0;
    int ioperm_errno = ENOSYS;
    vmu_sim vmu;

    std::vector<node_file> files;
    std::map<std::string, long long> counts;

    int start_nice = 0;
    int start_policy = 0;
    bool masked = false;
    int lowest_nice = 0;
    bool saw_fifo = false;
    std::string first_masked_call;
};

shim_state& shim() {
    static shim_state* state = new shim_state;  // never destroyed: used until the very end
    return *state;
}

int current_nice() {
    REAL(getpriority);
    errno = 0;
    return real_getpriority(PRIO_PROCESS, 0);
}

int current_policy() {
    REAL(sched_getscheduler);
    return real_sched_getscheduler(0) & ~SCHED_RESET_ON_FORK;
}

void configure() {
    shim_state& s = shim();
    if (s.configured)
        return;
    s.configured = true;
    if (const char* holder = std::getenv("VMURX_SHIM_HOLDER"))
        s.holder = holder;
    if (const char* nodes = std::getenv("VMURX_SHIM_NODES")) {
        s.nodes.clear();
        std::stringstream list(nodes);
        for (std::string item; std::getline(list, item, ',');) {
            if (!item.empty())
                s.nodes.push_back(std::atoi(item.c_str()));
        }
    }
    s.open_errno = env_int("VMURX_SHIM_OPEN_ERRNO", 0);
    s.ioperm_errno = env_int("VMURX_SHIM_IOPERM_ERRNO", ENOSYS);

    std::vector<std::string> args;
    std::stringstream options(std::getenv("VMURX_SHIM_VMU") ? std::getenv("VMURX_SHIM_VMU") : "");
    for (std::string word; options >> word;)
        args.push_back(word);
    emu_options parsed;
    std::string error;
    if (!emu_parse_options(args, s.vmu, parsed, error)) {
        std::fprintf(stderr, "ppdev shim: %s\n", error.c_str());
        std::abort();
    }
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
    shim_state& s = shim();
    s.start_nice = current_nice();
    s.start_policy = current_policy();
    s.lowest_nice = s.start_nice;
}

__attribute__((destructor)) void finish() {
    const char* path = std::getenv("VMURX_SHIM_REPORT");
    if (path == nullptr)
        return;
    shim_state& s = shim();
    long long open_nodes = 0;
    for (const node_file& file : s.files)
        open_nodes += file.fd >= 0 ? 1 : 0;
    long long masked_bytes = 0;
    for (const vmu_pc_byte& byte : s.vmu.pc_bytes)
        masked_bytes += byte.masked ? 1 : 0;
    std::FILE* report = std::fopen(path, "w");
    if (report == nullptr)
        return;
    for (const auto& [key, value] : s.counts)
        std::fprintf(report, "%s %lld\n", key.c_str(), value);
    std::fprintf(report, "open_nodes %lld\n", open_nodes);
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

void count(const std::string& key) {
    ++shim().counts[key];
}

// A call other than a register access while the tool is raised.
void note_call(const char* name) {
    shim_state& s = shim();
    if (!s.masked)
        return;
    count("calls_while_masked");
    if (s.first_masked_call.empty())
        s.first_masked_call = name;
}

// After a scheduling change: is the tool raised now?
void update_masked(const char* name) {
    shim_state& s = shim();
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
    const auto replace = [&](const char* prefix, const char* variable) -> const char* {
        const char* target = std::getenv(variable);
        const std::size_t length = std::strlen(prefix);
        if (target == nullptr || std::strncmp(path, prefix, length) != 0 ||
            (path[length] != '\0' && path[length] != '/')) {
            return nullptr;
        }
        return target;
    };
    if (const char* root = replace(PROCFS_ROOT, "VMURX_SHIM_PROCFS"))
        return std::string(root) + (path + std::strlen(PROCFS_ROOT));
    if (const char* file = replace(RT_RUNTIME, "VMURX_SHIM_RT_RUNTIME"))
        return file;
    return path;
}

// N of a path /dev/parportN, or -1.
int node_number(const char* path) {
    const std::size_t length = std::strlen(NODE_PREFIX);
    if (std::strncmp(path, NODE_PREFIX, length) != 0 || path[length] == '\0')
        return -1;
    int number = 0;
    for (const char* c = path + length; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9')
            return -1;
        number = number * 10 + (*c - '0');
    }
    return number;
}

node_file* find_node(int fd) {
    for (node_file& file : shim().files) {
        if (file.fd == fd && fd >= 0)
            return &file;
    }
    return nullptr;
}

int open_node(int number, int flags) {
    configure();
    shim_state& s = shim();
    count("node_opens");
    bool exists = false;
    for (int node : s.nodes)
        exists = exists || node == number;
    if (!exists) {
        errno = ENOENT;
        return -1;
    }
    if (s.open_errno != 0) {
        errno = s.open_errno;
        return -1;
    }
    if ((flags & O_ACCMODE) != O_RDWR) {
        count("node_opens_not_rdwr");
    }
    REAL(open);
    const int fd = real_open("/dev/null", O_RDWR | (flags & O_CLOEXEC));
    if (fd >= 0)
        s.files.push_back({fd, false, false});
    return fd;
}

int any_open(const char* path, int flags, mode_t mode) {
    note_call("open");
    const int number = node_number(path);
    if (number >= 0)
        return open_node(number, flags);
    REAL(open);
    return real_open(redirect(path).c_str(), flags, mode);
}

mode_t mode_argument(int flags, std::va_list arguments) {
    const bool has_mode = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
    return has_mode ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

// One ppdev ioctl on a node, as the kernel answers it.
int node_ioctl(node_file& file, unsigned long request, void* argument) {
    shim_state& s = shim();
    count("ioctl_total");
    const auto fail = [](int error) {
        errno = error;
        return -1;
    };
    switch (request) {
        case PPRSTATUS:
            count("ioctl_rstatus");
            if (!file.claimed)
                return count("register_before_claim"), fail(EINVAL);
            *static_cast<unsigned char*>(argument) = vmu_sim_status_read(s.vmu);
            return 0;
        case PPWDATA:
            count("ioctl_wdata");
            if (!file.claimed)
                return count("register_before_claim"), fail(EINVAL);
            vmu_sim_data_write(s.vmu, *static_cast<unsigned char*>(argument));
            return 0;
        case PPEXCL:
            count("ioctl_excl");
            if (file.claimed)
                return file.exclusive_wish ? 0 : fail(EINVAL);
            file.exclusive_wish = true;
            return 0;
        case PPCLAIM:
            count("ioctl_claim");
            if (file.claimed)
                return fail(EINVAL);
            if (s.holder == "exclusive" || (s.holder == "lp" && file.exclusive_wish))
                return count("claims_refused"), fail(ENXIO);
            file.claimed = true;
            count(file.exclusive_wish ? "claims_exclusive" : "claims_shared");
            s.vmu.acquired = true;
            return 0;
        case PPRELEASE:
            count("ioctl_release");
            if (!file.claimed)
                return fail(EINVAL);
            file.claimed = false;
            s.vmu.released = true;
            return 0;
        default:
            count("ioctl_other");
            return fail(ENOTTY);
    }
}

}  // namespace

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
    if (node_file* file = find_node(fd)) {
        if (file->claimed) {
            count("closed_while_claimed");  // the kernel releases it
            file->claimed = false;
        }
        file->fd = -1;
    }
    REAL(close);
    return real_close(fd);
}

int ioctl(int fd, unsigned long request, ...) noexcept {
    std::va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (node_file* file = find_node(fd)) {
        if (request != PPRSTATUS && request != PPWDATA)
            note_call("ioctl");
        return node_ioctl(*file, request, argument);
    }
    note_call("ioctl");
    REAL(ioctl);
    return real_ioctl(fd, request, argument);
}

int ioperm(unsigned long, unsigned long, int) noexcept {
    configure();
    note_call("ioperm");
    count("ioperm_calls");
    errno = shim().ioperm_errno;
    return -1;
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
    REAL(nanosleep);
    return real_nanosleep(request, remaining);
}

int clock_nanosleep(clockid_t clock, int flags, const timespec* request, timespec* remaining) {
    note_call("clock_nanosleep");
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
