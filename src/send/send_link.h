// vmurx-send's end of the cable, over the core's link and the platform seam:
// the port opened with D3 low, D3 raised and dropped (the card's P7.3, which
// starts and ends its "Waiting for data"), a byte sent as the tool sends
// every byte with the card's echo read on Select after each rising D0, and
// the wait for the card's answer, which the core's clocked receive takes.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>

#include "lpt/lpt.h"

/// Set by SIGINT, SIGTERM, SIGHUP or SIGQUIT while the port is held: the
/// transfer stops at the next byte and drops D3.
extern volatile std::sig_atomic_t send_interrupted;

/// Opens the port that `device` names (as vmurx's -d, which the command
/// line has checked) with the clock idle high and D3 low; routes SIGINT,
/// SIGTERM, SIGHUP and SIGQUIT to send_interrupted and ignores SIGPIPE until
/// send_close, so that no signal ends the process with D3 high and the card
/// waiting. False with errno set when it cannot.
bool send_open(const std::string& device, lpt_port& port);

/// D3 high (true) or low.
void send_set_peer(lpt_port& port, bool high);

/// Drops D3 and releases the port, and gives the signals back their
/// earlier handling. The card leaves receive mode.
void send_close(lpt_port& port);

/// Sends `byte` as the core's lpt_write_byte does, and reads Select after
/// each rising D0: the bits the card shifts out meanwhile, which are the
/// byte it took before. Returns them.
std::uint8_t send_byte_echoed(lpt_port& port, std::uint8_t byte);

/// Whether Select reads low: the card listening for the first header, or a
/// 0 bit of its echo.
bool send_select_low(lpt_port& port);

/// Waits up to `polls` status reads for Ack to fall, the first level of a
/// byte the card sends, and no longer than a microsecond a read, which is
/// about what a read takes on a real port: the waits are meant in time (the
/// card looks twice a second), and a machine that slows the reads (another
/// program on the processor) must not stretch them without end. False when
/// Ack does not fall, or when interrupted.
bool send_await_card(lpt_port& port, std::int64_t polls);

/// The byte the card sends after Ack fell: 0 to 255, or READ_TIMEOUT when
/// its levels stop before the eighth bit.
int send_take_answer(lpt_port& port);
