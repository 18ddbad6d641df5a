// The functions that take the values of the software card's options, one
// per kind of value, for the table in emu_options.cpp. A value is checked
// and kept here; the files it names are read only once every option is
// (emu_setup.cpp).
#pragma once

#include <string>

#include "emu/emu_options.h"
#include "emu/emu_setup.h"
#include "vmu/vmu_sim.h"

/// The options, in the order of the help.
enum emu_option_id {
    // The file the card sends.
    EMU_FILE,
    EMU_CARD,
    EMU_ENTRY,
    EMU_NAME,
    EMU_RAW_NAME,
    EMU_TYPE,
    EMU_STAMP,
    // Every card.
    EMU_FAULT,
    EMU_SEED,
    EMU_DOCKED,
    EMU_REALTIME,
    EMU_NO_RAISE,
    // The card's own Copy, the default card.
    EMU_RC_KHZ,
    EMU_READ_US,
    EMU_PC_PAUSE,
    EMU_PROTECT,
    // The scripted protocol card.
    EMU_SCRIPTED,
    EMU_READY_AFTER,
    EMU_HOLD,
    EMU_JITTER,
    EMU_HOLD_US,
    EMU_SAMPLE_US,
    EMU_REPORT,
    EMU_FORCE,
    // The processor card running the card-side sender.
    EMU_CPU,
    EMU_CYCLES_PER_READ,
    EMU_CYCLES_PER_DELAY,
    EMU_SENDER,
    EMU_SCREEN,
    EMU_SPEED,
    // The card's system ROM on the processor model.
    EMU_BIOS,
};

/// Everything the options set while they are read.
struct emu_reading {
    vmu_sim& vmu;
    emu_options& options;
    emu_request& request;
};

/// An option as given: its id, its name ("--hold") and its value ("" for a
/// switch).
struct emu_arg {
    int id;
    std::string option;
    const std::string& value;
};

/// Each takes the value of `given` into `reading`, or returns false with a
/// one-line reason in `error`.
bool emu_set_switch(emu_reading& reading, const emu_arg& given, std::string& error);
bool emu_set_path(emu_reading& reading, const emu_arg& given, std::string& error);
bool emu_set_number(emu_reading& reading, const emu_arg& given, std::string& error);
bool emu_set_name(emu_reading& reading, const emu_arg& given, std::string& error);
bool emu_set_raw_name(emu_reading& reading, const emu_arg& given, std::string& error);
bool emu_set_type(emu_reading& reading, const emu_arg& given, std::string& error);
bool emu_set_stamp(emu_reading& reading, const emu_arg& given, std::string& error);
bool emu_set_fault(emu_reading& reading, const emu_arg& given, std::string& error);
bool emu_set_entry(emu_reading& reading, const emu_arg& given, std::string& error);
bool emu_set_pc_pause(emu_reading& reading, const emu_arg& given, std::string& error);
bool emu_set_speed(emu_reading& reading, const emu_arg& given, std::string& error);

/// The value of --pc-pause, LEN@EVERY in µs, into `pause`; false for
/// anything else. Every software card that counts the PC's time takes it.
bool emu_parse_pc_pause(const std::string& value, pc_pause& pause);
inline constexpr const char* EMU_PC_PAUSE_FORM = "LEN@EVERY in µs, such as 50@1000";
