// What the commands of vmurx-vmu share: the program's name and usage, and its
// messages.
#pragma once

#include <string>

inline constexpr const char* VMU_TOOL_PROGRAM = "vmurx-vmu";

/// The usage text, for --help and for a bad command line.
extern const char* const VMU_TOOL_USAGE;

/// Prints `message` (when not empty) and the usage on stderr; returns 2.
int vmu_tool_usage_error(const std::string& message);

/// Prints "vmurx-vmu: OBJECT: REASON" on stderr; returns 1.
int vmu_tool_fail(const std::string& object, const std::string& reason);

/// The commands: argv[0] is the command's name, options and operands follow.
int vmu_tool_asm(int argc, char* argv[]);
int vmu_tool_run(int argc, char* argv[]);
