// The command line of vmurx-probe and the run: open the port as vmurx does,
// show the lines, measure, report.
#include <cerrno>
#include <cstring>

#include "cli/cli.h"
#include "files/text.h"
#include "lpt/lpt.h"
#include "platform/platform.h"
#include "probe/probe.h"

namespace {

enum { DEVICE, TIME, WATCH };

const cli_option OPTIONS[] = {
    {DEVICE, "device", 'd', "DEVICE",
     "the port, as for vmurx: LPT1: (default), LPT2, LPT3, or a base address such as 0x378 or "
     "0xEC00",
     nullptr},
    {TIME, "time", 't', "SECONDS", "how long to poll, whole seconds from 1 to 600 (default 5)",
     nullptr},
    {WATCH, "watch", 'w', nullptr, "print every change of Select, Ack and Busy as it happens",
     nullptr},
};

std::string usage(const char* name, const char* before) {
    return std::string("Usage: ") + name + (*before != '\0' ? " " : "") + before +
           " [-d device] [-t seconds] [-w] [-h]\n"
           "Check the parallel port, the cable and this machine's timing before a transfer.\n"
           "Only the status register is read: the card never sees a transfer begin.\n"
           "\n" +
           cli_options_help(OPTIONS) +
           "\n"
           "Exit status: 0 after a measurement, 1 when the port cannot be opened,\n"
           "2 for a wrong command line.\n";
}

const char* pin_level(std::uint8_t pins, std::uint8_t line) {
    return (pins & line) != 0 ? "high" : "low";
}

void print_lines(std::uint8_t raw_status, std::FILE* out) {
    const std::uint8_t pins = raw_status ^ STATUS_XOR;
    std::fputs("Lines (pin levels):\n", out);
    std::fprintf(
        out, "  Select: %s\n",
        (pins & STATUS_SELECT) != 0 ? "high (no card ready, or no cable)" : "low (card ready)");
    std::fprintf(out, "  Ack: %s\n", pin_level(pins, STATUS_ACK));
    std::fprintf(out, "  Busy: %s\n", pin_level(pins, STATUS_BUSY));
}

}  // namespace

std::span<const cli_option> probe_option_rows() {
    return OPTIONS;
}

int probe_parse_options(const char* name, const char* before, int argc, char* argv[],
                        probe_options& options, std::FILE* out, std::FILE* err) {
    const cli_program program{name, usage(name, before), printable};
    cli_parsed parsed;
    const int status =
        cli_read(program, {.options = OPTIONS, .operands = false}, argc, argv, parsed, out, err);
    if (status >= 0)
        return status;
    for (const cli_given& given : parsed.options) {
        std::uint64_t seconds = 0;
        switch (given.id) {
            case DEVICE:
                options.device = given.value;
                break;
            case TIME:
                if (!cli_parse_uint(given.value, 1, PROBE_MAX_SECONDS, seconds)) {
                    return cli_usage_error(program,
                                           "invalid time '" + given.value +
                                               "': whole seconds from 1 to " +
                                               std::to_string(PROBE_MAX_SECONDS),
                                           err);
                }
                options.duration_ms = static_cast<std::int64_t>(seconds) * 1'000;
                break;
            default:  // WATCH
                options.watch = true;
                break;
        }
    }
    return -1;
}

void probe_priority_facts(bool raised, bool already_high, const std::string& setting,
                          bool memory_locked, probe_port_facts& facts) {
    if (raised) {
        facts.priority = probe_grant::granted;
        facts.priority_setting = setting;
    } else if (already_high) {
        facts.priority = probe_grant::granted;
        facts.priority_setting = "already " + setting;
    } else {
        facts.priority = probe_grant::refused;
    }
    facts.memory_lock = memory_locked ? probe_grant::granted : probe_grant::refused;
}

int probe_run(const probe_options& options, const probe_backend& backend, std::FILE* out,
              std::FILE* err, probe_measurement& measurement) {
    std::uint16_t base = 0;
    const bool selected = lpt_select_port(options.device.c_str(), base);
    if (!selected || !port_acquire(base)) {
        const int refusal = errno;
        // The same refusal as vmurx, after what went to standard output, so
        // that the two can be compared.
        std::fflush(stdout);
        std::fflush(out);
        std::fprintf(err, "Can't open serial port: %s\n", std::strerror(refusal));
        // The probe is where a user looks for the cause: what the backend
        // tried at that address, and what to do.
        if (selected && backend.explain_refusal != nullptr)
            std::fputs(backend.explain_refusal(options.device, base, refusal).c_str(), err);
        return PROBE_FAILED;
    }

    const probe_port_facts facts = backend.describe();
    const auto status_address = static_cast<std::uint16_t>(base + 1);
    std::fprintf(out, "Port \"%s\" @ $%03x via %s\n", options.device.c_str(),
                 static_cast<unsigned>(base), facts.path.c_str());
    std::fputs(facts.detail.c_str(), out);
    const std::uint8_t first_status = port_read(status_address);
    print_lines(first_status, out);

    // Whole seconds from the command line; the tests also run shorter.
    const bool whole_seconds = options.duration_ms % 1'000 == 0;
    std::fprintf(
        out, "Polling the status register for %lld %s%s\n",
        static_cast<long long>(whole_seconds ? options.duration_ms / 1'000 : options.duration_ms),
        whole_seconds ? "s" : "ms", options.watch ? ", printing each line change:" : "...");
    std::fflush(out);

    probe_measure(status_address, first_status, options.duration_ms, options.watch, out,
                  measurement);
    // Only release: closing the link would write the data register.
    port_release();

    probe_report(measurement, facts, options.watch, out);
    errno = 0;
    if (std::fflush(out) != 0 || std::ferror(out)) {
        // A report that never arrived is no measurement.
        std::fprintf(err, "vmurx-probe: write error: %s\n",
                     std::strerror(errno != 0 ? errno : EIO));
        return PROBE_FAILED;
    }
    return measurement.reads - 1 - measurement.excluded > 0 ? PROBE_MEASURED : PROBE_FAILED;
}

int probe_main(const char* name, const char* before, int argc, char* argv[],
               const probe_backend& backend) {
    probe_options options;
    const int status = probe_parse_options(name, before, argc, argv, options, stdout, stderr);
    if (status >= 0)
        return status;
    probe_measurement measurement;
    return probe_run(options, backend, stdout, stderr, measurement);
}
