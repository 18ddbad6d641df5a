// The software cards as a backend of the platform seam: the program's port
// is the card behind it. Until the program puts another there (emu_use_card:
// emu_use_cpu_card the processor model that runs the card's own sender
// (vmu/cpu_card), emu_use_copy_card the card's own Copy, emu_use_receive_card
// the card's own file manager receiving), that is the scripted protocol card
// returned by emu_vmu(). Every card runs counting, or, once emu_use_realtime
// has been called, in real time on the one runner (vmu/card_realtime.h).
#pragma once

#include <memory>

#include "vmu/card_realtime.h"
#include "vmu/copy_card.h"
#include "vmu/copy_receive.h"
#include "vmu/cpu_card/cpu_card.h"
#include "vmu/soft_card.h"
#include "vmu/vmu_realtime.h"
#include "vmu/vmu_sim.h"
#include "vmu/vmu_sim_soft.h"

/// The scripted card's record, behind the port unless another card is.
/// Configure it before the port is opened; read what it recorded afterwards.
vmu_sim& emu_vmu();

/// Runs the card in real time from port_acquire to port_release. Masking
/// then raises the polling thread's priority where permitted, as on real
/// hardware, and the sleep really sleeps. Call before the port is opened.
void emu_use_realtime(const vmu_realtime_config& config);

/// The scripted card, with what it measured, once its real-time run is over
/// (the port released); null before and while it runs.
const vmu_sim_soft* emu_realtime_ran();

/// Puts `card` behind the port instead of emu_vmu(), owned by the backend
/// from now on. Counting, the card's time moves by what each of the PC's
/// operations costs, every delay unit told; after emu_use_realtime it runs on
/// the thread of card_realtime.h, paced by the clock, from port_acquire to
/// port_release, and each status read spends the card's read_cost first.
/// Call before the port is opened; a null card puts emu_vmu() back. Called
/// on a held port, the card it replaces is stopped and let go of, and the
/// PC's accesses reach emu_vmu() until the port is acquired again.
void emu_use_card(std::unique_ptr<soft_card> card);

/// Puts `card` behind the port instead of emu_vmu(). Counting, its time
/// advances with the tool's status reads, data writes and sleeps; after
/// emu_use_realtime it runs on the runner of card_realtime.h, paced by the
/// clock, from
/// port_acquire to port_release. Call before the port is opened; `card` must
/// outlive the run.
void emu_use_cpu_card(vmu_cpu_card& card);

/// Puts the card's own Copy behind the port instead of emu_vmu(): `card`
/// with its frames and configuration set, started when the port is
/// acquired. Counting, its time advances by what the tool's accesses cost
/// (card.pc); after emu_use_realtime it runs on the runner, paced by the
/// clock, and each status read spends card.pc.access_ps first. Call
/// before the port is opened; `card` must outlive the run.
void emu_use_copy_card(copy_card& card);

/// Puts the card's own file manager receiving a file behind the port instead
/// of emu_vmu(): `card` with its image and configuration set, started when
/// the port is acquired. Counting, its time advances by what the tool's
/// accesses cost (card.pc); after emu_use_realtime it runs on the runner,
/// paced by the clock, and each status read spends
/// card.pc.access_ps first. Call before the port is opened; `card` must
/// outlive the run.
void emu_use_receive_card(copy_receive& card);
