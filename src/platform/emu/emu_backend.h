// The emu backend's inside, shared by its files: a record of operations per
// way to run a card, the backend's state, and what the cards on a thread
// share. emu_platform.cpp holds the seam, the protocol and processor cards
// and the choice; emu_file_manager.cpp the card's own file manager, sending
// with Copy and receiving. Nothing outside platform/emu includes this.
#pragma once

#include <cstdint>

#include "platform/emu/emu_platform.h"
#include "platform/host/port_hold.h"

/// What the seam's functions do with one kind of card.
struct emu_mode {
    bool (*acquire)(std::uint16_t base);
    void (*release)();
    std::uint8_t (*read)(std::uint16_t address);
    void (*write)(std::uint16_t address, std::uint8_t value);
    void (*set_masked)(bool masked);
    void (*sleep)(unsigned milliseconds);
    void (*delay)(unsigned floor_us);
};

struct emu_backend {
    // What the program asked for before the port was opened.
    bool realtime = false;
    vmu_cpu_card* cpu_card = nullptr;
    copy_card* copy = nullptr;
    copy_receive* receive = nullptr;

    std::uint16_t base = 0;
    std::uint16_t status_address = 1;
    port_hold hold;        // the real-time cards' hold, as on a real machine
    bool running = false;  // a card's thread owns the card
};

extern emu_backend emu_state;

/// The real-time protocol card's thread; its configuration also says
/// whether the tool raises itself for the other real-time cards.
vmu_realtime& emu_realtime_card();

/// Spends what a port access costs on a real machine, before it.
void emu_spend_ns(std::int64_t ns);

void emu_take_base(std::uint16_t base);

/// Starts a card's thread on a held port, by `start`: a page fault in a
/// frame is a pause, as on real hardware, so memory is locked first and,
/// where `raise_tool`, the tool's raise prepared. On failure the hold is
/// undone and errno tells why.
bool emu_start_card_thread(bool raise_tool, void (*start)());

/// Masking for the cards on a thread: the polling thread's raise.
void emu_raise_while_masked(bool masked);

// The card's own file manager (emu_file_manager.cpp).
extern const emu_mode counting_copy_mode;
extern const emu_mode realtime_copy_mode;
extern const emu_mode counting_receive_mode;
extern const emu_mode realtime_receive_mode;
