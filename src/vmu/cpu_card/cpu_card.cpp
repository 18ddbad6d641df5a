// The processor model on the simulated cable: the pins between the PC's
// registers and the card's port 1, and the card's time kept by the tool's
// accesses.
#include "vmu/cpu_card/cpu_card.h"
#include "cable/cable.h"
#include "clock/time_units.h"

namespace {

// The PC's data lines on port 1's input pins; the pins nothing drives read
// high.
std::uint8_t input_pins(std::uint8_t data) {
    std::uint8_t pins = 0xFF & ~(CABLE_CARD_D0 | CABLE_CARD_D1 | CABLE_CARD_D2);
    if ((data & DATA_SEND_CLOCK) != 0)
        pins |= CABLE_CARD_D0;
    if ((data & DATA_SEND_BIT) != 0)
        pins |= CABLE_CARD_D1;
    if ((data & DATA_ECHO) != 0)
        pins |= CABLE_CARD_D2;
    return pins;
}

// P71 reads high while the battery is good, as in a card that works: the
// system ROM shows its battery warning otherwise and goes no further.
constexpr std::uint8_t P7_BATTERY_GOOD = 0x02;

// Port 7: D3 on "a peer present", the console's 5 V only when docked, the
// battery good.
std::uint8_t p7_pins(std::uint8_t data, bool docked) {
    std::uint8_t pins = P7_BATTERY_GOOD;
    if ((data & DATA_OPEN) != 0)
        pins |= CABLE_CARD_P7_D3;
    if (docked)
        pins |= CABLE_CARD_P7_DOCKED;
    return pins;
}

// Appends the lines to the card's log, if it keeps one, when they changed.
void log_lines(vmu_cpu_card& card) {
    if (card.line_log == nullptr)
        return;
    const cpu_card_lines now{card.cpu.time_ps, cpu_card_status_lines(card), card.data};
    std::vector<cpu_card_lines>& log = *card.line_log;
    if (log.empty() || log.back().status != now.status || log.back().data != now.data)
        log.push_back(now);
}

// The buttons held at the card's time `now_ps`.
std::uint8_t buttons_at(const vmu_cpu_card& card, std::uint64_t now_ps) {
    std::uint8_t held = 0;
    for (const cpu_card_press& press : card.presses) {
        const auto from = static_cast<std::uint64_t>(press.at_ms * PS_PER_MS);
        const auto until = from + static_cast<std::uint64_t>(press.hold_ms * PS_PER_MS);
        if (now_ps >= from && now_ps < until)
            held |= press.buttons;
    }
    return held;
}

}  // namespace

void cpu_card_step(vmu_cpu_card& card) {
    if (!card.presses.empty())
        vmu_cpu_set_buttons(card.cpu, buttons_at(card, card.cpu.time_ps));
    vmu_cpu_step(card.cpu);
    card.ever_driven |= cpu_card_driven(card);
    log_lines(card);
}

namespace {

// Takes the card's time on to target_cycle. A card that ended or faulted
// stays where it stopped.
void catch_up(vmu_cpu_card& card) {
    while (card.cpu.cycles < card.target_cycle && card.cpu.state == vmu_cpu_state::running)
        cpu_card_step(card);
}

// Cycles that last `us` at the card's present clock, at least one.
std::uint64_t cycles_for_us(const vmu_cpu_card& card, std::uint64_t us) {
    const std::uint64_t cycle_ps = card.cpu.cycle_ps != 0 ? card.cpu.cycle_ps : 1;
    const std::uint64_t cycles = (us * 1'000'000 + cycle_ps - 1) / cycle_ps;
    return cycles != 0 ? cycles : 1;
}

// A PC's access at the card's present time comes later when one of its
// pauses fell due: the card runs on to it first.
void pc_access(vmu_cpu_card& card) {
    const auto now = static_cast<card_ps>(card.cpu.time_ps);
    const card_ps at = pc_pause_apply(card.pause, now);
    if (at > now) {
        const std::uint64_t cycle_ps = card.cpu.cycle_ps != 0 ? card.cpu.cycle_ps : 1;
        cpu_card_run(card, (static_cast<std::uint64_t>(at - now) + cycle_ps - 1) / cycle_ps);
    }
}

}  // namespace

void cpu_card_reset(vmu_cpu_card& card) {
    vmu_cpu_reset(card.cpu);
    vmu_cpu_set_p1_pins(card.cpu, input_pins(card.data));
    vmu_cpu_set_p7(card.cpu, p7_pins(card.data, card.docked));
    card.target_cycle = card.cpu.cycles;
    card.ever_driven = 0;
}

void cpu_card_set_data(vmu_cpu_card& card, std::uint8_t value) {
    card.data = value;
    vmu_cpu_set_p1_pins(card.cpu, input_pins(value));
    vmu_cpu_set_p7(card.cpu, p7_pins(value, card.docked));
    log_lines(card);
}

void cpu_card_run_to_ms(vmu_cpu_card& card, double ms) {
    const auto until = static_cast<std::uint64_t>(ms * PS_PER_MS);
    while (card.cpu.time_ps < until && card.cpu.state == vmu_cpu_state::running)
        cpu_card_step(card);
    card.target_cycle = card.cpu.cycles;
}

void cpu_card_run(vmu_cpu_card& card, std::uint64_t cycles) {
    card.target_cycle += cycles;
    catch_up(card);
}

std::uint8_t cpu_card_driven(const vmu_cpu_card& card) {
    return vmu_cpu_p1_drive(card.cpu).driven & CABLE_CARD_P1_LINES;
}

std::uint8_t cpu_card_status_lines(const vmu_cpu_card& card) {
    const vmu_p1_drive drive = vmu_cpu_p1_drive(card.cpu);
    // A line the card does not drive is pulled high at the PC.
    const auto line = [&](std::uint8_t bit) {
        return (drive.driven & bit) == 0 || (drive.levels & bit) != 0;
    };
    return cable_status_byte(line(CABLE_CARD_SELECT), line(CABLE_CARD_ACK), line(CABLE_CARD_BUSY));
}

std::uint8_t cpu_card_status_read(vmu_cpu_card& card) {
    ++card.status_reads;
    if (!card.masked)
        ++card.unmasked_reads;
    pc_access(card);
    cpu_card_run(card, card.cycles_per_read);
    return cpu_card_status_lines(card);
}

void cpu_card_data_write(vmu_cpu_card& card, std::uint8_t value) {
    ++card.data_writes;
    pc_access(card);
    if (card.opened_ps < 0)
        card.opened_ps = static_cast<card_ps>(card.cpu.time_ps);
    // A write that moves D0 sends a bit: the tool holds it for the delay
    // unit it tells next, and the write itself takes no time of its own. Any
    // other (the echo on D2) is followed by the next status read at once,
    // and costs what a port access does. It reaches the card's pins at the
    // end of that access, as a read sees them at the end of its own: a PC
    // answers what it read one access later, never in the same instant.
    if (((card.data ^ value) & DATA_SEND_CLOCK) == 0)
        cpu_card_run(card, card.cycles_per_read);
    cpu_card_set_data(card, value);
}

void cpu_card_delay(vmu_cpu_card& card, unsigned floor_us) {
    cpu_card_run(card, floor_us != 0 ? cycles_for_us(card, floor_us) : card.cycles_per_delay);
}

void cpu_card_sleep(vmu_cpu_card& card, unsigned milliseconds) {
    cpu_card_run(card, cycles_for_us(card, std::uint64_t{milliseconds} * 1000));
}

std::string cpu_card_lcd(const vmu_cpu& cpu) {
    std::string text;
    text.reserve(static_cast<std::size_t>(VMU_LCD_WIDTH + 1) * VMU_LCD_HEIGHT);
    for (int y = 0; y < VMU_LCD_HEIGHT; ++y) {
        for (int x = 0; x < VMU_LCD_WIDTH; ++x)
            text += vmu_cpu_lcd_pixel(cpu, x, y) ? '#' : '.';
        text += '\n';
    }
    return text;
}

void cpu_card_soft::run_to(card_ps until) {
    while (now() < until && card.cpu.state == vmu_cpu_state::running)
        cpu_card_step(card);
    card.target_cycle = card.cpu.cycles;
}

void cpu_card_soft::set_data(std::uint8_t value) {
    if (card.opened_ps < 0)
        card.opened_ps = static_cast<card_ps>(card.cpu.time_ps);
    cpu_card_set_data(card, value);
    ++card.data_writes;
}
