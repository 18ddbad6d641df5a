// Running a program over the preloaded ppdev stand-in (ppdev_shim.cpp): the
// made-up machine it sees, the environment that sets it up, and the report
// the stand-in leaves behind.
#pragma once

#include <link.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "run_program.h"

/// The machine as the stand-in presents it.
struct ppdev_world {
    std::vector<std::pair<int, std::uint16_t>> ports{{0, 0x378}};  // parportN and base
    bool driver_loaded = true;
    std::string nodes = "0";
    std::string holder = "none";
    int open_errno = 0;
    int ioperm_errno = ENOSYS;
    std::string rt_runtime = "950000\n";
    const char* delay_us = "0";  // VMURX_DELAY_US; nullptr: unset, the default floor
    std::vector<std::string> extra_env;
};

/// Under AddressSanitizer its runtime must be the first library loaded, ahead
/// of the preloaded stand-in. The test is built like the program, so it
/// carries the same runtime.
inline std::string preload_list() {
    std::string runtime;
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* found) {
            const std::string name = info->dlpi_name != nullptr ? info->dlpi_name : "";
            if (name.find("/libasan.so") != std::string::npos)
                *static_cast<std::string*>(found) = name;
            return 0;
        },
        &runtime);
    return runtime.empty() ? VMURX_SHIM_PATH : runtime + ":" + VMURX_SHIM_PATH;
}

/// Builds `world` in `dir` (the procfs tree and the throttle file), removes
/// the last report, and returns the environment of a run in `dir` with the
/// software VMU configured by `vmu_options`. The report goes to dir/report.
inline run_options shim_run_options(const ppdev_world& world, const temp_dir& dir,
                                    const std::string& vmu_options) {
    const std::string root = dir.file("parport");
    std::filesystem::remove_all(root);
    if (world.driver_loaded) {
        for (const auto& [number, base] : world.ports) {
            const std::string port = root + "/parport" + std::to_string(number);
            std::filesystem::create_directories(port);
            write_file(port + "/base-addr",
                       std::to_string(base) + "\t" + std::to_string(base + 0x400) + "\n");
        }
    }
    write_file(dir.file("rt_runtime"), world.rt_runtime);
    std::filesystem::remove(dir.file("report"));
    run_options options;
    options.cwd = dir.path();
    options.env = {
        "LD_PRELOAD=" + preload_list(),
        "VMURX_SHIM_PROCFS=" + root,
        "VMURX_SHIM_RT_RUNTIME=" + dir.file("rt_runtime"),
        "VMURX_SHIM_NODES=" + world.nodes,
        "VMURX_SHIM_HOLDER=" + world.holder,
        "VMURX_SHIM_OPEN_ERRNO=" + std::to_string(world.open_errno),
        "VMURX_SHIM_IOPERM_ERRNO=" + std::to_string(world.ioperm_errno),
        "VMURX_SHIM_VMU=" + vmu_options,
        "VMURX_SHIM_REPORT=" + dir.file("report"),
    };
    if (world.delay_us != nullptr) {
        options.env.push_back(std::string("VMURX_DELAY_US=") + world.delay_us);
    } else {
        options.unset.push_back("VMURX_DELAY_US");
    }
    options.env.insert(options.env.end(), world.extra_env.begin(), world.extra_env.end());
    return options;
}

/// What the stand-in counted, by key.
using shim_report = std::map<std::string, long long>;

inline long long get(const shim_report& r, const std::string& key) {
    const auto found = r.find(key);
    return found == r.end() ? 0 : found->second;
}

inline shim_report read_shim_report(const std::string& path) {
    shim_report r;
    std::istringstream lines(read_file(path));
    std::string key;
    std::string value;
    while (lines >> key && std::getline(lines >> std::ws, value))
        r[key] = std::atoll(value.c_str());
    return r;
}
