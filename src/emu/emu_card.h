// The card the software card's options chose, put behind the emu backend's
// port for a program run against it (vmurx-emu, vmurx-probe-emu): the card's
// own Copy (the default), the scripted protocol card (--scripted), the
// processor card running the sender (--cpu) or the card's system ROM on it
// (--bios, vmurx-emu only); the delay unit a transfer
// against it uses; and what the card shows when the run is over.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "emu/emu_options.h"

/// Puts the chosen card behind the port and sets the tool's delay floor and
/// delay function for it. False with a one-line reason when the processor
/// card cannot be set up from what the options name. `options` must outlive
/// the run.
bool emu_put_card(emu_options& options, std::string& error);

/// After the run: the card's own Copy's screen, once it has gone on to where
/// a user would find it, and what it noted of the PC, each line begun with
/// `program`, once the port was opened; or with --cpu --screen the
/// processor card's screen and pins. Nothing for the scripted card. On
/// `out`, after standard output is flushed.
void emu_show_card(emu_options& options, const char* program, std::FILE* out);

/// The card's own time since the port was opened, in picoseconds, counting:
/// the card's own Copy's, or the processor card's with --cpu or --bios; 0
/// before the port was opened, and for the scripted card.
std::int64_t emu_card_time_ps(const emu_options& options);

/// After the run: the real-time scripted card's report, where --report names
/// a file and the card ran, written as every output is (files/): an existing
/// file only with --force, never through a symbolic link. False, with the
/// reason on standard error begun with `program`, when it could not be.
bool emu_write_report(const emu_options& options, const char* program);
