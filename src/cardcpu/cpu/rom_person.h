// A person at the card, on the card's own system ROM: boots it, gets through
// the clock setting, reaches the file manager and chooses a file there for
// Copy, or stays on its file list to receive one, pressing the buttons at a
// person's pace and reading the screen as text before each step.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "cardcpu/cpu/cpu.h"
#include "cardcpu/cpu/rom_screen.h"

/// What the person is to do.
struct vmu_person_plan {
    enum class goal : std::uint8_t {
        copy,     // choose the file and Copy, confirm; the card stands at "Copy ?"
        receive,  // stay on the file list, a peer present, the card ready to take a file
    };
    goal what = goal::copy;
    /// The file to copy, by its name (up to 12 printable bytes). The card's
    /// list is in its own order, so a caller that is given a slot finds the
    /// name in the card's directory first.
    std::string name;
    bool start = false;  // copy: press A at "Copy ?" too, so that the card starts sending
};

/// How the person fared: `reached` true with the card at the goal, or the
/// reason why not (the screen it stopped at ends it).
struct vmu_person_result {
    bool reached = false;
    std::string reason;
    std::uint64_t card_ps = 0;  // the card's time from its power-on to the goal
};

/// Runs the card on `cpu` (its ROM loaded and reset) as a person would use
/// it, calling `seen` with each new screen it reads. Gives up after
/// `limit_ps` of the card's time.
vmu_person_result vmu_person_run(vmu_cpu& cpu, const vmu_person_plan& plan,
                                 const std::function<void(const vmu_screen_text&)>& seen,
                                 std::uint64_t limit_ps);
