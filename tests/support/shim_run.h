// Running a program over a preloaded stand-in for the kernel (kernel_shim.h):
// the environment every stand-in reads, and the report it leaves behind.
#pragma once

#include <link.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "run_program.h"

/// Under AddressSanitizer its runtime must be the first library loaded, ahead
/// of the preloaded stand-in. The test is built like the program, so it
/// carries the same runtime.
inline std::string preload_list(const std::string& shim_path) {
    std::string runtime;
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* found) {
            const std::string name = info->dlpi_name != nullptr ? info->dlpi_name : "";
            if (name.find("/libasan.so") != std::string::npos)
                *static_cast<std::string*>(found) = name;
            return 0;
        },
        &runtime);
    return runtime.empty() ? shim_path : runtime + ":" + shim_path;
}

/// What every stand-in is told.
struct shim_common {
    std::string rt_runtime = "950000\n";
    const char* delay_us = "0";  // VMURX_DELAY_US; nullptr: unset, the default floor
    std::vector<std::string> extra_env;
};

/// Writes the throttle file into `dir`, removes the last report, and returns
/// the environment of a run in `dir` over the stand-in at `shim_path`, with
/// the software VMU configured by `vmu_options`. The report goes to
/// dir/report; the caller adds the stand-in's own variables.
inline run_options shim_common_options(const std::string& shim_path, const shim_common& common,
                                       const temp_dir& dir, const std::string& vmu_options) {
    write_file(dir.file("rt_runtime"), common.rt_runtime);
    std::filesystem::remove(dir.file("report"));
    run_options options;
    options.cwd = dir.path();
    options.env = {
        "LD_PRELOAD=" + preload_list(shim_path),
        "VMURX_SHIM_RT_RUNTIME=" + dir.file("rt_runtime"),
        "VMURX_SHIM_VMU=" + vmu_options,
        "VMURX_SHIM_REPORT=" + dir.file("report"),
    };
    if (common.delay_us != nullptr) {
        options.env.push_back(std::string("VMURX_DELAY_US=") + common.delay_us);
    } else {
        options.unset.push_back("VMURX_DELAY_US");
    }
    options.env.insert(options.env.end(), common.extra_env.begin(), common.extra_env.end());
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
