// vmurx-emu --cpu: the card that runs the card's own sender on the processor
// model, set up from the options: the card image (the user's file is only
// read), the sender in the game slot of a copy, and the buttons pressed for
// the user to send the chosen file.
#pragma once

#include <cstdio>
#include <string>

#include "emu/emu_options.h"
#include "vmu/cpu_card/cpu_card.h"

/// Sets `card` up from `options` and runs it until the sender waits for the
/// PC, the file chosen. False with a one-line reason when the image cannot be
/// read, holds no such file, or has no room for the sender. `note`: what to
/// tell the user of the card's copy (its own sender replaced), if anything.
bool emu_prepare_cpu_card(const emu_cpu_options& options, vmu_cpu_card& card, std::string& note,
                          std::string& error);

/// Lets the card run on for a second of its own time after the tool is done,
/// then prints its screen, the port 1 bits it drove and the card's time when
/// the tool was done.
void emu_print_cpu_card(vmu_cpu_card& card, std::FILE* out);
