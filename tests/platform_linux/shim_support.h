// Running a program over the preloaded ppdev stand-in (ppdev_shim.cpp): the
// made-up machine it sees and the environment that sets it up. What every
// stand-in shares is shim_run.h's.
#pragma once

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "shim_run.h"

/// The machine as the stand-in presents it.
struct ppdev_world : shim_common {
    std::vector<std::pair<int, std::uint16_t>> ports{{0, 0x378}};  // parportN and base
    bool driver_loaded = true;
    std::string nodes = "0";
    std::string holder = "none";
    int open_errno = 0;
    int ioperm_errno = ENOSYS;
};

/// Builds `world` in `dir` (the procfs tree and the throttle file), removes
/// the last report, and returns the environment of a run in `dir` with the
/// software VMU configured by `vmu_options`. The report goes to dir/report.
inline run_options shim_run_options(const ppdev_world& world, const temp_dir& dir,
                                    const std::string& vmu_options) {
    const std::string root = dir.file("parport");
    std::filesystem::remove_all(root);
    if (world.driver_loaded) {
        std::filesystem::create_directories(root);  // a driver that lists no port
        for (const auto& [number, base] : world.ports) {
            const std::string port = root + "/parport" + std::to_string(number);
            std::filesystem::create_directories(port);
            write_file(port + "/base-addr",
                       std::to_string(base) + "\t" + std::to_string(base + 0x400) + "\n");
        }
    }
    run_options options = shim_common_options(VMURX_SHIM_PATH, world, dir, vmu_options);
    options.env.insert(options.env.end(),
                       {
                           "VMURX_SHIM_PROCFS=" + root,
                           "VMURX_SHIM_NODES=" + world.nodes,
                           "VMURX_SHIM_HOLDER=" + world.holder,
                           "VMURX_SHIM_OPEN_ERRNO=" + std::to_string(world.open_errno),
                           "VMURX_SHIM_IOPERM_ERRNO=" + std::to_string(world.ioperm_errno),
                       });
    return options;
}
