// A model of the card's processor: the whole machine state in one record and
// one step function that runs one instruction at a time, timed in machine
// cycles. It holds the RAM banks, the special function registers, the LCD's
// XRAM and the 128 KiB flash; it runs the timers, the ports with their output
// latches, the clocks and the BIOS routines a game calls. A caller (the `run`
// command, the simulated cable) drives the input pins between steps and reads
// the driven outputs back, so the program sees the outside world only at
// instruction boundaries, as the real card does.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "cardcpu/cpu/sfr.h"

inline constexpr std::size_t VMU_FLASH_SIZE = 0x20000;  // two 64 KiB banks
inline constexpr std::size_t VMU_FLASH_PAGE = 128;      // the BIOS routines' unit
inline constexpr int VMU_LCD_WIDTH = 48;
inline constexpr int VMU_LCD_HEIGHT = 32;

/// The BIOS routines the model performs itself when the program enters the
/// ROM there (games reach them through a stub `not1 EXT,0` + `jmpf` at the
/// same address in their own image). The page routines take the flash bank
/// at RAM bank 1 0x7D, the page address at 0x7E (high) and 0x7F (low), the
/// data at 0x80-0xFF, and return 0 in ACC on success; control goes back to
/// the flash at the entry + 5, the instruction after the stub. The clock
/// routine returns to VMU_BIOS_TIMER_RETURN whatever the stub looks like:
/// the card maker's stub has `push ie` and `clr1 ie,7` before its `not1`,
/// so that its `pop ie` stands there.
enum vmu_bios_entry : std::uint16_t {
    VMU_BIOS_FM_WRT_EX = 0x100,  // write a page; clobbers ACC, TRL, TRH, B, C
    VMU_BIOS_FM_VRF_EX = 0x110,  // compare a page; ACC nonzero when it differs
    VMU_BIOS_FM_PRD_EX = 0x120,  // read a page
    VMU_BIOS_TIMER_EX = 0x130,   // the base-timer tick; clears its flags
    VMU_BIOS_TIMER_RETURN = 0x139,
    VMU_BIOS_GAME_END = 0x1F0,  // ends the run (state ended)
};

/// The system's low-battery check reads this byte of RAM bank 0: 0xFF turns
/// it off, and a game that turns it off turns it back on when it ends.
inline constexpr std::size_t VMU_BATTERY_CHECK = 0x6E;

/// The buttons on P3, by bit (active low on the pins).
enum vmu_button : std::uint8_t {
    VMU_BUTTON_UP = 0x01,
    VMU_BUTTON_DOWN = 0x02,
    VMU_BUTTON_LEFT = 0x04,
    VMU_BUTTON_RIGHT = 0x08,
    VMU_BUTTON_A = 0x10,
    VMU_BUTTON_B = 0x20,
    VMU_BUTTON_MODE = 0x40,
    VMU_BUTTON_SLEEP = 0x80,
};

/// Whether the processor runs on, or why it stopped.
enum class vmu_cpu_state : std::uint8_t {
    running,
    ended,  // the program called game_end
    fault,  // see vmu_cpu::fault and fault_pc
};

/// A serial interface (SIO0, SIO1): the shift register SBUF and where a
/// transfer stands. As master (its SCK pin an output) it clocks itself from
/// SBR; as slave it follows the edges of the SCK pin.
struct vmu_sio {
    std::uint8_t shift = 0;   // SBUF
    std::uint8_t bits = 0;    // bits taken in since the transfer started
    std::uint16_t phase = 0;  // master: cycles counted towards the next edge
    bool sck = true;          // master: the clock it puts out (idle high)
    bool so = false;          // the bit it puts out
};

/// The whole machine. Plain data: copy it to snapshot the card. Reach the
/// data space through vmu_cpu_read/vmu_cpu_write (they apply the banks, the
/// latches and the write-only registers); the arrays hold the raw storage.
/// vmu_cpu_reset() makes a new record ready to run.
struct vmu_cpu {
    std::array<std::uint8_t, 0x200> ram{};  // bank 0, then bank 1
    /// 0x100-0x17F as last written: for P1 and P3 the output latch, for a
    /// timer's counter address the reload value.
    std::array<std::uint8_t, 0x80> sfr{};
    std::array<std::uint8_t, 0x180> xram{};  // XBNK 0, 1, 2
    std::vector<std::uint8_t> flash = std::vector<std::uint8_t>(VMU_FLASH_SIZE);

    std::uint16_t pc = 0;
    std::uint64_t cycles = 0;    // machine cycles since reset
    std::uint64_t time_ps = 0;   // the card's own time since reset, picoseconds
    std::uint32_t cycle_ps = 0;  // the length of one cycle at the current OCR

    /// The timers' counters (the reload values are in sfr).
    std::uint8_t t0l = 0, t0h = 0, t1l = 0, t1h = 0;
    std::uint16_t t0_prescale = 0;  // cycles counted towards T0's next tick
    /// T1's compare values in use: T1LC and T1HC as they were when T1
    /// started or, while T1CNT bit 4 allows it, at its last reload.
    std::uint8_t t1lc = 0, t1hc = 0;
    std::uint64_t base_timer_ps = 0;       // the card's time while the base timer ran
    std::uint64_t base_timer_next_ps = 0;  // base_timer_ps at which a flag rises next

    /// Work RAM, reached through VRMAD1, VRMAD2 and VTRBF.
    std::array<std::uint8_t, 0x200> work_ram{};
    std::array<vmu_sio, 2> sio{};

    /// The outside world, set by the caller between steps.
    std::uint8_t p1_pins = 0xFF;
    std::uint8_t p3_pins = 0xFF;  // buttons, active low
    std::uint8_t p7_pins = 0x00;  // bit 0: 5 V present (docked), bit 3: a peer present

    bool rom_source = false;   // fetching from the BIOS ROM (as EXT chose at the last JMPF)
    std::uint8_t serving = 0;  // the priority levels of the interrupts being served, a bit each
    /// The interrupt the last instruction took up, entered at the next step
    /// (vector 0: none), and its level.
    std::uint16_t pending_vector = 0;
    std::uint8_t pending_level = 0;
    /// The instruction running is a RETI or wrote IE, IP or PCON: it takes
    /// up no interrupt.
    bool hold_off = false;
    vmu_cpu_state state = vmu_cpu_state::running;
    std::string fault;           // why the run stopped in fault
    std::uint16_t fault_pc = 0;  // the address of the instruction that faulted

    /// Registers the program used beyond what the model does with them, by
    /// address - 0x100; vmu_cpu_notes() names them.
    std::bitset<0x80> unmodelled;
};

/// P1's driven side: the output latch and the direction register (1: output).
struct vmu_p1_outputs {
    std::uint8_t latch;
    std::uint8_t ddr;
};

/// P1's pins as the card drives them: which pins are outputs, and their
/// levels (an output pin given to its function shows the function's level
/// ORed with the latch: the serial ports' SO and SCK, T1's pulse on P17).
struct vmu_p1_drive {
    std::uint8_t driven;
    std::uint8_t levels;
};

/// The state in which the system hands a game over: game mode with flash as
/// the program source, PC 0, RAM bank 1, the quartz clock at /6 (OCR 0xA3),
/// interrupts on (IE 0x83), the base timer raising its flag every 0.5 s
/// (BTCR 0x41), key interrupts in continuous mode (P3INT 0x05), P17 the only
/// output on P1 (P1DDR 0x80, P1FCR 0xBF), the system's low-battery check on
/// (0x00 at 0x6E of RAM bank 0), ISL 0xC0, VSEL 0xFC, the LCD on, the other
/// registers 0. RAM, work RAM, XRAM and flash keep their contents; pins are
/// released.
void vmu_cpu_reset(vmu_cpu& cpu);

/// Puts a game image at flash address 0 (bank 0 and on into bank 1 when it
/// is longer), the rest of the flash erased (0x00). False when the image is
/// larger than the flash.
bool vmu_cpu_load_game(vmu_cpu& cpu, std::span<const std::uint8_t> image);

/// Takes a whole card image as the flash. False unless it is VMU_FLASH_SIZE
/// bytes.
bool vmu_cpu_load_card(vmu_cpu& cpu, std::span<const std::uint8_t> image);

/// Runs one instruction, one interrupt entry, one BIOS routine or, in HALT,
/// one cycle, and advances the clock and the timers by what it took. Returns
/// the cycles taken; 0 once the state is no longer running.
unsigned vmu_cpu_step(vmu_cpu& cpu);

/// Steps until `cycles` reaches `until_cycle` or the run stops.
void vmu_cpu_run_until(vmu_cpu& cpu, std::uint64_t until_cycle);

/// The length of one machine cycle under the current OCR, in picoseconds:
/// quartz 32.768 kHz, RC about 876 kHz or the 6 MHz ceramic, divided by 6 or
/// by 12. Multiply by cycles for the time they take.
std::uint32_t vmu_cpu_cycle_ps(const vmu_cpu& cpu);

/// A read of the data space as an instruction's plain read sees it (ports
/// through their pins, write-only registers as 0xFF, timers' counters).
/// Reading has no side effects.
std::uint8_t vmu_cpu_read(const vmu_cpu& cpu, std::uint16_t address);

/// A write to the data space as an instruction's would do it.
void vmu_cpu_write(vmu_cpu& cpu, std::uint16_t address, std::uint8_t value);

/// Drives P1's input pins (a pin set as output in P1DDR reads its latch). A
/// serial port working as slave takes an edge of its SCK pin here.
void vmu_cpu_set_p1_pins(vmu_cpu& cpu, std::uint8_t pins);

/// Holds down the buttons in `pressed` (VMU_BUTTON_* bits), releasing the
/// rest. A newly pressed button raises P3's interrupt flag (P3INT bit 1).
void vmu_cpu_set_buttons(vmu_cpu& cpu, std::uint8_t pressed);

/// Sets P7's input pins (bit 0: 5 V present, bit 3: a peer present); an
/// edge or a level there raises the external interrupt I01CR or I23CR asks
/// for.
void vmu_cpu_set_p7(vmu_cpu& cpu, std::uint8_t pins);

/// What the program drives on P1: its latch and its direction register.
inline vmu_p1_outputs vmu_cpu_p1_outputs(const vmu_cpu& cpu) {
    return {cpu.sfr[vmu_sfr("P1") - 0x100U], cpu.sfr[vmu_sfr("P1DDR") - 0x100U]};
}

/// P1's pins as driven now, the functions' levels included.
vmu_p1_drive vmu_cpu_p1_drive(const vmu_cpu& cpu);

/// Whether the LCD shows pixel (x, y) dark: 0 <= x < 48 from the left,
/// 0 <= y < 32 from the top. Always light while the LCD is off (VCCR bit 7).
bool vmu_cpu_lcd_pixel(const vmu_cpu& cpu, int x, int y);

/// One line per register the program used beyond the model, naming it and
/// what a real card would have done that the model does not, e.g. "VLREG:
/// the console's link is not modelled: no console answers". Callers print
/// them as notes: the run goes on as the model can.
std::vector<std::string> vmu_cpu_notes(const vmu_cpu& cpu);
