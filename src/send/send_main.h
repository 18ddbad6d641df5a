// vmurx-send's entry function, for each program that links the send
// library with one backend (the parallel port, the GPIO header, the
// software card).
#pragma once

#include <string>

#include "card/card_image.h"
#include "send/send_transfer.h"

/// Reads the command line (`usage` is its help), the delay floor from
/// VMURX_DELAY_US and the files, refusing what the card would refuse before
/// the port is touched; opens the port and puts the files on the card one
/// after the other, a game first. `clock` times the progress and the
/// closing line: the card's own time for a counting software card.
/// `target` is the card the files go to when the program knows it (a
/// software card's image), for the refusals before anything moves; null:
/// a real card, checked as a blank one. Returns the exit status: 0 when the
/// card accepted the last frame of every file, 1 for any failure, 2 for a
/// wrong command line.
int send_main(int argc, char* argv[], const std::string& usage, send_clock clock = monotonic_ns,
              const card_image* target = nullptr);
