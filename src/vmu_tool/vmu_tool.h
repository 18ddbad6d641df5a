// What the commands of vmurx-vmu share: the program's name, its options (the
// table is in main.cpp) and its messages.
#pragma once

#include <string>

#include "cli/cli.h"

inline constexpr const char* VMU_TOOL_PROGRAM = "vmurx-vmu";

/// The options of both commands, as the command line gives them.
enum vmu_tool_option {
    VMU_TOOL_INCLUDE,
    VMU_TOOL_OUTPUT,
    VMU_TOOL_MS,
    VMU_TOOL_CYCLES,
    VMU_TOOL_PRESS,
    VMU_TOOL_CARD,
    VMU_TOOL_BIOS,
    VMU_TOOL_LCD,
    VMU_TOOL_TEXT,
    VMU_TOOL_REGS,
    VMU_TOOL_PERSON,
    VMU_TOOL_SCREEN,
};

/// Prints "vmurx-vmu: MESSAGE" (when not empty) and the usage on stderr;
/// returns 2.
int vmu_tool_usage_error(const std::string& message);

/// Prints "vmurx-vmu: OBJECT: REASON" on stderr, both made safe for a
/// terminal; returns 1.
int vmu_tool_fail(const std::string& object, const std::string& reason);

/// The commands, on their command line as read; each returns the exit status.
int vmu_tool_asm(const cli_parsed& command_line);
int vmu_tool_run(const cli_parsed& command_line);
