// vmurx-emu --bios: the card's own Copy as its system ROM runs it on the
// processor model. The ROM is the user's image, read at run time; the
// card's flash holds a copy of the user's card image (the file is only
// read); a person at the card boots it, sets its clock, chooses the file
// in the file manager, takes Copy and answers Yes, and the ROM's Copy then
// waits for the PC. vmurx-send-emu --bios: the same card, the person
// staying on its file list, where the ROM's receive mode takes a file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "card/card_image.h"

#include "emu/emu_options.h"
#include "vmu/cpu_card/cpu_card.h"

/// Reads the system ROM at `path`, or at $VMURX_BIOS when `path` is empty.
/// False with a one-line reason, naming --bios, when neither names one, it
/// cannot be read, or it is not 64 KiB or none the model can boot.
bool emu_read_rom(const std::string& path, std::vector<std::uint8_t>& rom, std::string& error);

/// Reads the ROM (`options.bios_path`, or $VMURX_BIOS when that is empty)
/// and the card image, and plays the person at the card on `card` to Copy's
/// start. False with a one-line reason when there is no ROM, it cannot be
/// read or is none the model can boot, the card image cannot be read or
/// holds no such entry, or the person does not get there (the screen it
/// stopped at named). Each screen the person passes goes to `screens` when
/// that is not null.
bool emu_prepare_rom_card(const emu_cpu_options& options, vmu_cpu_card& card, std::string& error,
                          std::FILE* screens);

/// Lets the card run on for the time its Copy takes to show how it ended,
/// then prints what its screen shows, begun with `program`, on `out`.
void emu_show_rom_card(vmu_cpu_card& card, const char* program, std::FILE* out);

/// Boots `rom` on `card` with `image` as its flash and plays the person at
/// the card to the file manager's file list, where the ROM takes a file
/// once the PC raises D3. False with the reason when the person does not get
/// there. Each screen the person passes goes to `screens` when that is not
/// null.
bool emu_prepare_rom_receive(const std::vector<std::uint8_t>& rom, const card_image& image,
                             vmu_cpu_card& card, std::string& error, std::FILE* screens);

/// Once the tool is done: lets the card run until its ROM is done with the
/// transfer (back on its file list, the flash chip idle), and gives what its
/// screen then shows in `shown`. False when the card does not get there
/// within 20 s of its time, or stopped.
bool emu_finish_rom_receive(vmu_cpu_card& card, std::string& shown);
