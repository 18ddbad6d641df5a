// Taking the values of the software card's options: switches, paths, the
// numbers with their ranges, the name, type and stamp of the file, the
// faults and the card entry.
#include "emu/emu_option_values.h"

#include <cctype>
#include <cstdint>
#include <limits>
#include <vector>

#include "cable/cable.h"
#include "cli/cli.h"
#include "clock/time_units.h"

namespace {

// "bad value for --hold: 'x'", and what a good one is.
std::string bad_value(const emu_arg& a, const std::string& detail = "") {
    return "bad value for " + a.option + ": '" + a.value + "'" +
           (detail.empty() ? "" : " (" + detail + ")");
}

// A whole number from `minimum` to `maximum` into `target`.
template <typename T>
bool take_number(const emu_arg& a, std::uint64_t minimum, std::uint64_t maximum, const char* detail,
                 T& target, std::string& error) {
    std::uint64_t number = 0;
    if (!cli_parse_uint(a.value, minimum, maximum, number)) {
        error = bad_value(a, detail);
        return false;
    }
    target = static_cast<T>(number);
    return true;
}

constexpr std::uint64_t INT_LARGEST = std::numeric_limits<int>::max();

}  // namespace

bool emu_set_switch(emu_reading& r, const emu_arg& a, std::string& error) {
    switch (a.id) {
        case EMU_SCRIPTED:
        case EMU_CPU: {
            const emu_card card = a.id == EMU_CPU ? emu_card::cpu : emu_card::scripted;
            if (r.options.card != emu_card::copy && r.options.card != card) {
                error = r.options.card == emu_card::rom
                            ? "--bios and " + a.option + " choose two cards"
                            : "--cpu and --scripted choose two cards";
                return false;
            }
            r.options.card = card;
            break;
        }
        case EMU_PROTECT:
            r.options.copy.config.copy_protected = true;
            break;
        case EMU_REALTIME:
            r.options.realtime = true;
            break;
        case EMU_FORCE:
            r.options.replace_report = true;
            break;
        case EMU_NO_RAISE:
            r.options.realtime_config.raise_tool = false;
            break;
        case EMU_DOCKED:
            r.options.cpu.docked = true;
            r.options.copy.config.console_power = true;
            break;
        default:  // EMU_SCREEN
            r.options.cpu.screen = true;
            break;
    }
    return true;
}

bool emu_set_path(emu_reading& r, const emu_arg& a, std::string& error) {
    if (a.id == EMU_FILE || a.id == EMU_CARD) {
        // The last of --file and --card says what is sent.
        r.request.source = a.value;
        r.request.source_is_card = a.id == EMU_CARD;
    } else if (a.id == EMU_REPORT) {
        r.options.report_path = a.value;
    } else if (a.id == EMU_BIOS) {
        if (r.options.card != emu_card::copy && r.options.card != emu_card::rom) {
            error =
                "--bios runs the card's own Copy on its system ROM: not with --cpu or "
                "--scripted";
            return false;
        }
        r.options.card = emu_card::rom;
        r.options.cpu.bios_path = a.value;
    } else {  // EMU_SENDER
        r.options.cpu.sender_path = a.value;
    }
    return true;
}

bool emu_set_number(emu_reading& r, const emu_arg& a, std::string& error) {
    constexpr std::uint64_t LONGEST = std::numeric_limits<std::int64_t>::max();
    switch (a.id) {
        case EMU_READY_AFTER:
            return take_number(a, 0, LONGEST, "", r.vmu.ready_after, error);
        case EMU_HOLD:
            return take_number(a, 1, INT_LARGEST, "", r.vmu.hold, error);
        case EMU_JITTER:
            return take_number(a, 0, INT_LARGEST, "", r.vmu.jitter, error);
        case EMU_SEED:
            if (!take_number(a, 0, INT_LARGEST, "", r.vmu.seed, error))
                return false;
            r.options.copy.pc.pause.seed = r.vmu.seed;
            r.options.cpu.pause.seed = r.vmu.seed;
            return true;
        case EMU_RC_KHZ:
            return take_number(a, 600, 1200, "600 to 1200", r.options.copy.config.rc_khz, error);
        case EMU_READ_US: {
            std::int64_t us = 0;
            if (!take_number(a, 1, 1'000, "1 to 1000", us, error))
                return false;
            r.options.copy.pc.access_ps = us * PS_PER_US;
            return true;
        }
        case EMU_HOLD_US:
            return take_number(a, 1, 100'000, "1 to 100000", r.options.realtime_config.hold_us,
                               error);
        case EMU_SAMPLE_US:
            return take_number(a, 0, 100'000, "0 to 100000", r.options.realtime_config.sample_us,
                               error);
        case EMU_CYCLES_PER_READ:
            return take_number(a, 1, 1'000'000, "1 to 1000000", r.options.cpu.cycles_per_read,
                               error);
        default:  // EMU_CYCLES_PER_DELAY
            return take_number(a, 1, 1'000'000, "1 to 1000000", r.options.cpu.cycles_per_delay,
                               error);
    }
}

bool emu_set_name(emu_reading& r, const emu_arg& a, std::string& error) {
    if (a.value.empty() || a.value.size() > 12) {
        error = bad_value(a, "1 to 12 characters");
        return false;
    }
    r.request.name = a.value;
    r.request.raw_name = false;
    return true;
}

bool emu_set_raw_name(emu_reading& r, const emu_arg& a, std::string& error) {
    std::vector<std::uint8_t> bytes;
    if (!cli_parse_hex_bytes(a.value, 12, bytes)) {
        error = bad_value(a, "24 hex digits");
        return false;
    }
    r.request.name = std::string(bytes.begin(), bytes.end());
    r.request.raw_name = true;
    return true;
}

bool emu_set_type(emu_reading& r, const emu_arg& a, std::string& error) {
    std::string word = a.value;
    for (char& c : word)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (word == "game" || word == "data") {
        r.request.type = word == "game" ? TYPE_GAME : TYPE_DATA;
        return true;
    }
    std::uint8_t type = 0;
    if (!take_number(a, 0, 255, "game, data or a byte value", type, error))
        return false;
    r.request.type = type;
    return true;
}

bool emu_set_stamp(emu_reading& r, const emu_arg& a, std::string& error) {
    // Checked as vmurx-card and vmurx-save check it. A date that does not
    // exist still reaches the tool from a card image's entry (--card), whose
    // stamp bytes are sent as they are.
    r.request.stamp = parse_stamp_text(a.value);
    if (!r.request.stamp)
        error = bad_value(a, "YYYYMMDDhhmmss between the years 1900 and 9999");
    return r.request.stamp.has_value();
}

bool emu_set_fault(emu_reading& r, const emu_arg& a, std::string& error) {
    if (a.value == "never-ready") {
        r.vmu.ready_after = VMU_NEVER;
        r.options.copy.config.select_wired = false;
        return true;
    }
    if (a.value == "no-peer") {
        r.options.copy.config.peer_present = false;
        return true;
    }
    const std::size_t equals = a.value.find('=');
    const std::string kind = a.value.substr(0, equals);
    const bool kind_known = kind == "stall" || kind == "wrong-code" || kind == "bad-trailer" ||
                            kind == "short" || kind == "stop";
    std::uint64_t number = 0;
    if (!kind_known || equals == std::string::npos ||
        !cli_parse_uint(a.value.substr(equals + 1), kind == "stall" ? 0 : 1, INT_LARGEST, number)) {
        error = "unknown fault '" + a.value + "' (see --help)";
        return false;
    }
    r.request.faults.push_back({kind, static_cast<std::int64_t>(number)});
    return true;
}

bool emu_set_entry(emu_reading& r, const emu_arg& a, std::string& error) {
    if (a.value.empty()) {
        error = bad_value(a, "a name or #SLOT");
        return false;
    }
    r.request.entry = a.value;
    return true;
}

bool emu_parse_pc_pause(const std::string& value, pc_pause& pause) {
    const std::size_t at = value.find('@');
    std::uint64_t length = 0;
    std::uint64_t every = 0;
    if (at == std::string::npos || !cli_parse_uint(value.substr(0, at), 1, 1'000'000, length) ||
        !cli_parse_uint(value.substr(at + 1), 1, 100'000'000, every)) {
        return false;
    }
    pause.length_ps = static_cast<std::int64_t>(length) * PS_PER_US;
    pause.every_ps = static_cast<std::int64_t>(every) * PS_PER_US;
    return true;
}

bool emu_set_pc_pause(emu_reading& r, const emu_arg& a, std::string& error) {
    if (!emu_parse_pc_pause(a.value, r.options.copy.pc.pause)) {
        error = bad_value(a, EMU_PC_PAUSE_FORM);
        return false;
    }
    // The same pauses for the processor card of --cpu.
    r.options.cpu.pause.length_ps = r.options.copy.pc.pause.length_ps;
    r.options.cpu.pause.every_ps = r.options.copy.pc.pause.every_ps;
    return true;
}

bool emu_set_speed(emu_reading& r, const emu_arg& a, std::string& error) {
    if (a.value != "fast" && a.value != "safe") {
        error = bad_value(a, "fast or safe");
        return false;
    }
    r.options.cpu.safe = a.value == "safe";
    return true;
}
