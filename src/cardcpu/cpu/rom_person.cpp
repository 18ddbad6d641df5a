// The person at the card. Each step reads the screen, waits until it has
// settled (the ROM draws a screen over several of its ticks), presses one
// button for 100 ms or on until the screen answers, and lets 400 ms pass
// before the next look, as a person does; a screen it expects and does not
// find within 12 s ends the run with the screen it saw named.
#include "cardcpu/cpu/rom_person.h"
#include "clock/time_units.h"

#include <algorithm>
#include <initializer_list>
#include <string_view>

namespace {

constexpr std::uint64_t PRESS_MS = 100;
constexpr std::uint64_t PAUSE_MS = 400;
constexpr std::uint64_t HOLD_MAX_MS = 1000;
constexpr std::uint64_t LOOK_MS = 50;      // how often the screen is read
constexpr std::uint64_t SETTLED_MS = 300;  // unchanged so long: drawn
constexpr std::uint64_t WAIT_MS = 12'000;  // the longest wait for a screen
constexpr unsigned MAX_TRIES = 12;
constexpr std::uint8_t P7_PEER = 0x08;

std::string text_of(const vmu_screen_text& s) {
    return s.lines[0] + s.lines[1] + s.lines[2] + s.lines[3];
}

class person {
public:
    person(vmu_cpu& cpu, const std::function<void(const vmu_screen_text&)>& seen,
           std::uint64_t limit_ps)
        : cpu_(cpu), seen_(seen), limit_ps_(limit_ps) {}

    // Runs the card for `ms`, reading the screen as it goes.
    bool pass(std::uint64_t ms) {
        const std::uint64_t until = cpu_.time_ps + ms * PS_PER_MS;
        while (cpu_.time_ps < until) {
            const std::uint64_t look = std::min(until, cpu_.time_ps + LOOK_MS * PS_PER_MS);
            while (cpu_.time_ps < look && vmu_cpu_step(cpu_) != 0) {
            }
            if (cpu_.state != vmu_cpu_state::running) {
                failure_ = "the card stopped: " + cpu_.fault;
                return false;
            }
            if (cpu_.time_ps >= limit_ps_) {
                failure_ = "out of time";
                return false;
            }
            read();
        }
        return true;
    }

    // Waits until the screen has settled and shows `wanted` (any of the
    // texts, "" for any screen); the index of the one found, or -1.
    int await(std::initializer_list<std::string_view> wanted) {
        const std::uint64_t until = cpu_.time_ps + WAIT_MS * PS_PER_MS;
        while (cpu_.time_ps < until) {
            if (!pass(LOOK_MS)) {
                return -1;
            }
            if (cpu_.time_ps - changed_ps_ < SETTLED_MS * PS_PER_MS) {
                continue;
            }
            int n = 0;
            for (std::string_view w : wanted) {
                if (text().find(w) != std::string::npos) {
                    return n;
                }
                ++n;
            }
        }
        failure_ = "expected ";
        for (std::string_view w : wanted) {
            failure_ += "\"" + std::string(w) + "\" ";
        }
        failure_ += "on the screen, saw \"" + text() + "\"";
        return -1;
    }

    // Holds `button` for 100 ms, and on until the screen answers (the ROM
    // takes an arrow in its menus only once it has been held for a while),
    // at most a second; then lets go and waits before the next look.
    bool press(std::uint8_t button) {
        const std::string before = text_;
        vmu_cpu_set_buttons(cpu_, button);
        if (!pass(PRESS_MS)) {
            return false;
        }
        for (std::uint64_t held = PRESS_MS; held < HOLD_MAX_MS && text_ == before;
             held += LOOK_MS) {
            if (!pass(LOOK_MS)) {
                return false;
            }
        }
        vmu_cpu_set_buttons(cpu_, 0);
        return pass(PAUSE_MS);
    }

    const std::string& text() const { return text_; }
    const vmu_screen_text& screen() const { return screen_; }
    std::string& failure() { return failure_; }

private:
    void read() {
        vmu_screen_text s = vmu_rom_screen_text(cpu_);
        std::string t = text_of(s);
        if (t != text_ || s.inverted != screen_.inverted) {
            text_ = std::move(t);
            screen_ = std::move(s);
            changed_ps_ = cpu_.time_ps;
            if (seen_) {
                seen_(screen_);
            }
        }
    }

    vmu_cpu& cpu_;
    const std::function<void(const vmu_screen_text&)>& seen_;
    std::uint64_t limit_ps_;
    std::string text_;
    vmu_screen_text screen_;
    std::uint64_t changed_ps_ = 0;
    std::string failure_;
};

// The clock setting: A through its fields to "OK ?", then Yes.
bool set_clock(person& p) {
    if (p.await({"?:Select"}) < 0) {
        return false;
    }
    for (unsigned n = 0; n < MAX_TRIES; ++n) {
        if (p.text().find("OK ?") != std::string::npos) {
            // The cursor stands on neither answer until one is chosen.
            return p.press(VMU_BUTTON_LEFT) && p.await({"OK ?"}) >= 0 && p.press(VMU_BUTTON_A);
        }
        if (!p.press(VMU_BUTTON_A) || p.await({""}) < 0) {
            return false;
        }
    }
    p.failure() = "the clock setting never asked \"OK ?\"";
    return false;
}

// The file list's counter "nnn/ttt" on the first line: nnn, or 0.
unsigned list_place(const std::string& line) {
    const std::size_t slash = line.find('/');
    if (slash < 3) {
        return 0;
    }
    unsigned n = 0;
    for (std::size_t i = slash - 3; i < slash; ++i) {
        if (line[i] < '0' || line[i] > '9') {
            return 0;
        }
        n = n * 10 + static_cast<unsigned>(line[i] - '0');
    }
    return n;
}

// Whether the file's screen shows the name `wanted`: its 12 bytes in the
// 12 cells from the second line on, where the padding after the name (NUL
// bytes, which the font has no character for, or spaces) may read as
// either.
bool shows_name(const vmu_screen_text& s, const std::string& wanted) {
    const std::string cells = (s.lines[1] + s.lines[2]).substr(0, 12);
    if (wanted.empty() || wanted.size() > cells.size()) {
        return false;
    }
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const bool padding = i >= wanted.size();
        if (padding ? cells[i] != '?' && cells[i] != ' ' : cells[i] != wanted[i]) {
            return false;
        }
    }
    return true;
}

// Steps through the file list with Up to the file named `wanted`, once
// round the list at most.
bool choose_file(person& p, const std::string& wanted) {
    unsigned first = 0;
    for (;;) {
        const unsigned place = list_place(p.screen().lines[0]);
        if (place == 0) {
            p.failure() = "no file list on the screen: \"" + p.text() + "\"";
            return false;
        }
        if (shows_name(p.screen(), wanted)) {
            return true;
        }
        if (place == first) {
            p.failure() = "no file " + wanted + " in the card's list";
            return false;
        }
        if (first == 0) {
            first = place;
        }
        if (!p.press(VMU_BUTTON_UP) || p.await({"/"}) < 0) {
            return false;
        }
    }
}

}  // namespace

vmu_person_result vmu_person_run(vmu_cpu& cpu, const vmu_person_plan& plan,
                                 const std::function<void(const vmu_screen_text&)>& seen,
                                 std::uint64_t limit_ps) {
    person p(cpu, seen, limit_ps);
    vmu_person_result result;
    bool ok =
        set_clock(p) && p.await({"Visual"}) >= 0 && p.press(VMU_BUTTON_A) && p.await({"Free"}) >= 0;
    if (ok && plan.what == vmu_person_plan::goal::receive) {
        // The first page moves on to the file list by itself; there the
        // card takes a file once the peer's line rises, the caller's to
        // raise.
        ok = p.await({"/", "No saved"}) >= 0;
    } else if (ok) {
        // A opens the file list, Right a file's page and then its menu,
        // Copy first; A takes Copy and the card asks, No chosen.
        ok = p.press(VMU_BUTTON_A) && p.await({"/"}) >= 0 && choose_file(p, plan.name) &&
             p.press(VMU_BUTTON_RIGHT) && p.await({"Data", "Game"}) >= 0 &&
             p.press(VMU_BUTTON_RIGHT) && p.await({"Copy"}) >= 0 && p.press(VMU_BUTTON_A) &&
             p.await({"Copy ?"}) >= 0;
        if (ok && plan.start) {
            // Yes; the cable stands for the second card Copy sends to.
            vmu_cpu_set_p7(cpu, static_cast<std::uint8_t>(cpu.p7_pins | P7_PEER));
            ok = p.press(VMU_BUTTON_LEFT) && p.press(VMU_BUTTON_A);
        }
    }
    result.reached = ok;
    result.reason = ok ? "" : p.failure();
    result.card_ps = cpu.time_ps;
    return result;
}
