// vmurx-probe-emu: the probe against the software VMU, to try it without a
// port and for the tests.
//
//   vmurx-probe-emu [VMU options] [-- probe options]
#include <cstdio>
#include <string>
#include <vector>

#include "emu/emu_platform.h"
#include "emu/vmu_options.h"
#include "probe/probe.h"

namespace {

probe_port_facts describe_software_card() {
    probe_port_facts facts;
    facts.path = "the software card";
    return facts;
}

}  // namespace

int main(int argc, char* argv[]) {
    std::vector<std::string> vmu_args;
    int separator = 1;
    while (separator < argc && std::string(argv[separator]) != "--")
        vmu_args.emplace_back(argv[separator++]);

    vmu_options options;
    std::string error;
    if (!vmu_parse_options(vmu_args, emu_vmu(), options, error)) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", argv[0], error.c_str(), argv[0]);
        return 2;
    }
    if (options.help) {
        std::printf(
            "Usage: %s [VMU options] [-- probe options]\n"
            "Runs vmurx-probe against a software VMU on a simulated cable.\n\n"
            "%s\nprobe options: see '%s -- -h'.\n",
            argv[0], VMU_OPTIONS_HELP, argv[0]);
        return 0;
    }

    // The probe sees the program name and what follows "--".
    std::vector<char*> probe_argv{argv[0]};
    for (int i = separator + 1; i < argc; ++i)
        probe_argv.push_back(argv[i]);
    probe_argv.push_back(nullptr);
    return probe_main(static_cast<int>(probe_argv.size()) - 1, probe_argv.data(),
                      describe_software_card);
}
