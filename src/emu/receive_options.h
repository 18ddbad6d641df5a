// The command line of the software receiving card (vmurx-send-emu, and the
// kernel stand-ins of the tests): the card image it holds, what the PC's
// accesses cost, the PC's pauses and the faults, and whether it keeps real
// time. The options are a table (receive_options.cpp); the image is read
// once every option is.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "vmu/copy_receive.h"
#include "vmu/vmu_realtime.h"

struct receive_options {
    copy_receive card;       // its image loaded, its configuration set
    std::string image_path;  // --card: the image, held from its reading to the last frame's store
    bool realtime = false;
    bool bios = false;      // --bios: the card's system ROM receives, not the modelled card
    std::string bios_path;  // --bios's ROM; empty: $VMURX_BIOS
    bool screen = false;    // --screen: each screen the person at the ROM's card passes
    vmu_realtime_config realtime_config;  // raise_tool: whether the tool raises itself
    std::vector<std::string> operands;    // the words for vmurx-send before "--"
};

/// The help text of the card options.
std::string receive_options_help();

/// Sets up `options` from `args` (the card options alone); false with a
/// one-line reason for anything it cannot take, an image that cannot be
/// read or is no card included.
bool receive_parse_options(const std::vector<std::string>& args, receive_options& options,
                           std::string& error);

/// The command line `vmurx-send-emu [card options] [FILE] [-- vmurx-send
/// options]`: sets up `options` and gives vmurx-send's command line in
/// `tool_argv` (the program name, the options of `tool_options` given
/// before "--" as vmurx-send's words, the words before "--" that are no
/// option, what follows "--", a null pointer). `tool_options` are rows of
/// vmurx-send's whose names and letters none of the card options has. Returns -1 to go on, or the
/// status to exit with: 0 after the help or the version, 2 after a wrong
/// card option (with the usage) or an image that cannot be used (without).
/// Without --card it goes on with no image (image_path empty), so that
/// vmurx-send may print its own help; the caller then ends with
/// receive_no_card().
int receive_split_command_line(int argc, char* argv[], receive_options& options,
                               std::vector<char*>& tool_argv,
                               std::span<const cli_option> tool_options = {});

/// The command line lacked --card: the message and the usage on standard
/// error; returns the status 2.
int receive_no_card();
