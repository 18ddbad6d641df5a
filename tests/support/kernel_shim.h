// What the preloaded stand-ins for the kernel (ppdev_shim.cpp, gpio_shim.cpp)
// share: the software VMU behind the device, the counts, the watch on the
// scheduling calls that tells when the tool has raised itself ("masked"),
// the report written at exit, and the interposed system calls. Each stand-in
// answers for its own device through the hooks declared at the end, which it
// defines.
//
// Configured by the environment:
//   VMURX_SHIM_RT_RUNTIME  file standing in for /proc/sys/kernel/sched_rt_runtime_us
//   VMURX_SHIM_VMU         the software VMU's options, separated by spaces
//   VMURX_SHIM_RECEIVE     in place of it, the receiving card's options (those of
//                          vmurx-send-emu), for vmurx-send and vmurx-send-gpio
//   VMURX_SHIM_NICE        nice value to start from
//   VMURX_SHIM_DENY_NICE   nonzero: drop CAP_SYS_NICE and set RLIMIT_RTPRIO to 0
//                          and RLIMIT_NICE to this value
//   VMURX_SHIM_REPORT      where to write the report
#pragma once

#include <dlfcn.h>
#include <sys/types.h>
#include <time.h>

#include <cstdio>
#include <map>
#include <string>

#include "emu/receive_options.h"
#include "vmu/vmu_sim.h"

template <typename Function>
Function next_definition(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// The definition a stand-in hides, looked up once.
#define REAL(name) static const auto real_##name = next_definition<decltype(&::name)>(#name)

/// The state every stand-in keeps.
struct kernel_shim {
    bool configured = false;
    vmu_sim vmu;
    bool receiving = false;  // the receiving card is behind the device, not `vmu`
    receive_options receive;
    bool in_card = false;        // the card itself is at work (it stores its image)
    std::uint64_t pc_falls = 0;  // falling edges of D0 the receiving card saw, eight a byte
    std::map<std::string, long long> counts;

    int start_nice = 0;
    int start_policy = 0;
    bool masked = false;
    int lowest_nice = 0;
    bool saw_fifo = false;
    std::string first_masked_call;
};

kernel_shim& shim();

/// An environment variable as a number, or `fallback`.
int env_int(const char* name, int fallback);

/// Sets up the software VMU from VMURX_SHIM_VMU, once; then the stand-in's
/// own configuration (device_configure).
void shim_configure();

void count(const std::string& key);

/// A status read of the card behind the device: the raw status register.
std::uint8_t shim_status_read();

/// A write of the data register to the card behind the device.
void shim_data_write(std::uint8_t value);

/// The card behind the device is claimed.
void shim_card_acquired();

/// Sets up the receiving card from its options (VMURX_SHIM_RECEIVE).
void shim_configure_receiving(const char* options);

/// The tool sleeps: the receiving card, which counts time by what the tool
/// does, lets as much pass.
void shim_pass_card_time(const timespec& request);

/// A call other than a register access: counted while the tool is raised.
void note_call(const char* name);

/// Where `path` really is when it starts with `prefix` and the environment
/// variable `variable` names a replacement; nullptr otherwise.
const char* replacement(const char* path, const char* prefix, const char* variable);

// The hooks each stand-in defines.

/// Reads the stand-in's own environment.
void device_configure();

/// Opens `path` when it is one of the device's nodes: returns true with the
/// descriptor (or -1 and errno) in `fd`.
bool device_open(const char* path, int flags, int& fd);

/// Where the stand-in keeps a file or directory the process asks for by
/// `path`; `path` itself when it is not one of the stand-in's.
std::string device_redirect(const char* path);

/// An ioctl on one of the device's descriptors: returns true with the result
/// in `result`. Calls note_call for anything but a register access.
bool device_ioctl(int fd, unsigned long request, void* argument, int& result);

/// The process closes `fd`, which may be one of the device's.
void device_close(int fd);

/// Adds the device's own lines to the report.
void device_report(std::FILE* report);
