// The units beside the processor, each case taken from the maker's manual's
// description of the unit (named at each table), never from the model's own
// output: the start state the system hands a game, work RAM, the base
// timer's two interrupts, T1's compare, the serial ports as master and as
// slave, interrupt priorities, P3's continuous mode and HOLD, and the
// external interrupts on P7.
#include <gtest/gtest.h>

#include "machine.h"

namespace {

// NOPs to step through.
const std::vector<std::uint8_t> nops(std::size_t count = 256) {
    return std::vector<std::uint8_t>(count, 0x00);
}

// Steps until `cycles` more cycles have passed (NOPs take one each).
void run_cycles(machine& m, std::uint64_t cycles) {
    vmu_cpu_run_until(m.cpu, m.cpu.cycles + cycles);
}

// The system's start state for a game, register by register.
TEST(VmuUnits, AGameStartsInTheSystemsState) {
    const std::pair<const char*, std::uint8_t> cases[] = {
        {"OCR", 0xA3},   {"IE", 0x83},    {"P3INT", 0x05}, {"BTCR", 0x41},
        {"ISL", 0xC0},   {"VSEL", 0xFC},  {"SP", 0x7F},    {"T1CNT", 0x00},
        {"SCON0", 0x00}, {"SCON1", 0x00}, {"I01CR", 0x00},
    };
    machine m(nops());
    m.cpu.ram[VMU_BATTERY_CHECK] = 0xFF;  // a game before turned it off
    vmu_cpu_reset(m.cpu);
    for (const auto& [name, value] : cases) {
        for (const vmu_sfr_info& row : vmu_sfr_infos) {
            if (row.name == name) {
                EXPECT_EQ(m.read(row.address), value) << name;
            }
        }
    }
    // Write-only registers read 0xFF: their stored values.
    EXPECT_EQ(vmu_cpu_p1_outputs(m.cpu).ddr, 0x80);
    EXPECT_EQ(m.cpu.sfr[vmu_sfr("P1FCR") - 0x100], 0xBF);
    EXPECT_EQ(m.read(vmu_sfr("PSW")) & 0x02, 0x02);  // RAM bank 1
    EXPECT_EQ(m.cpu.ram[VMU_BATTERY_CHECK], 0x00);
    EXPECT_EQ(vmu_cpu_cycle_ps(m.cpu), 183'105'469U);  // quartz /6
}

// Work RAM (the manual's work RAM section): VTRBF reads and writes the byte
// at VRMAD2 bit 0 : VRMAD1; with VSEL bit 4 set each access moves the
// address on, across bit 8 and round from 0x1FF to 0.
TEST(VmuUnits, WorkRamThroughVtrbf) {
    struct row {
        std::uint8_t vsel, vrmad1, vrmad2;
        std::uint16_t first;  // where the first of the bytes 1, 2, 3 goes
        int step;             // and how far apart they are
        std::uint8_t vrmad1_after, vrmad2_after;
    };
    const row rows[] = {
        {0x10, 0x00, 0x00, 0x000, 1, 0x03, 0x00},
        {0x10, 0xFF, 0x00, 0x0FF, 1, 0x02, 0x01},  // carries into VRMAD2
        {0x10, 0xFE, 0x01, 0x1FE, 1, 0x01, 0x00},  // round to 0
        {0x00, 0x40, 0x01, 0x140, 0, 0x40, 0x01},  // stays without bit 4
    };
    for (const row& r : rows) {
        // mov #1,vtrbf; mov #2,vtrbf; mov #3,vtrbf; ld vtrbf
        machine m({0x23, 0x66, 0x01, 0x23, 0x66, 0x02, 0x23, 0x66, 0x03, 0x03, 0x66});
        m.write(vmu_sfr("VSEL"), r.vsel);
        m.write(vmu_sfr("VRMAD1"), r.vrmad1);
        m.write(vmu_sfr("VRMAD2"), r.vrmad2);
        for (int i = 0; i < 3; ++i) {
            m.step();
        }
        if (r.step == 0) {
            EXPECT_EQ(m.cpu.work_ram[r.first], 3);
        } else {
            for (int i = 0; i < 3; ++i) {
                EXPECT_EQ(m.cpu.work_ram[(r.first + i) & 0x1FF], i + 1) << std::hex << r.first;
            }
        }
        EXPECT_EQ(m.read(vmu_sfr("VRMAD1")), r.vrmad1_after);
        EXPECT_EQ(m.read(vmu_sfr("VRMAD2")) & 1, r.vrmad2_after);
        m.write(vmu_sfr("VRMAD1"), static_cast<std::uint8_t>(r.first));
        m.write(vmu_sfr("VRMAD2"), static_cast<std::uint8_t>(r.first >> 8));
        m.step();  // ld vtrbf
        EXPECT_EQ(m.read(vmu_sfr("ACC")), r.step == 0 ? 3 : 1);
    }
}

// The base timer (the manual's base timer section): it counts the 32.768 kHz
// quartz whatever clock the processor runs on. Interrupt 0's flag (BTCR bit
// 1) rises every 16384 counts, or every 64 with bit 7; interrupt 1's (bit 3)
// every 32, 128, 512 or 2048 counts as bits 5-4 say.
TEST(VmuUnits, BaseTimerRaisesBothFlagsAtTheirPeriods) {
    struct row {
        std::uint8_t btcr;
        std::uint8_t ocr;  // the processor's clock: it must not matter
        std::uint8_t flag;
        double period_ms;
    };
    const row rows[] = {
        {0x40, 0xA3, 0x02, 500.0},         {0x40, 0x81, 0x02, 500.0},
        {0xC0, 0x81, 0x02, 64 / 32.768},   {0x40, 0x81, 0x08, 32 / 32.768},
        {0x50, 0x81, 0x08, 128 / 32.768},  {0x60, 0x81, 0x08, 512 / 32.768},
        {0x70, 0xA3, 0x08, 2048 / 32.768},
    };
    for (const row& r : rows) {
        machine m(nops(0x10000));
        m.write(vmu_sfr("IE"), 0x00);
        m.write(vmu_sfr("OCR"), r.ocr);
        m.write(vmu_sfr("BTCR"), r.btcr);
        const auto period_ps = static_cast<std::uint64_t>(r.period_ms * 1e9);
        while (m.cpu.time_ps + m.cpu.cycle_ps < period_ps) {
            m.step();
            m.cpu.pc = 0;
        }
        EXPECT_EQ(m.read(vmu_sfr("BTCR")) & r.flag, 0) << std::hex << int{r.btcr};
        m.step();
        m.step();
        EXPECT_NE(m.read(vmu_sfr("BTCR")) & r.flag, 0) << std::hex << int{r.btcr};
    }
}

// Either flag with its enable (bit 0 for interrupt 0, bit 2 for interrupt 1)
// takes the base timer's vector 0x1B.
TEST(VmuUnits, BaseTimerInterruptsShareTheirVector) {
    for (const std::uint8_t btcr : {std::uint8_t{0x41 | 0x02}, std::uint8_t{0x44 | 0x08}}) {
        machine m(nops());
        m.write(vmu_sfr("BTCR"), btcr);
        m.step();  // the NOP that takes the request up, then its entry
        m.step();
        EXPECT_EQ(m.cpu.pc, 0x1B) << std::hex << int{btcr};
    }
    machine m(nops());
    m.write(vmu_sfr("BTCR"), 0x40 | 0x08);  // interrupt 1's flag without its enable
    m.step();
    m.step();
    EXPECT_EQ(m.cpu.pc, 2);
}

// T1's compare (the manual's timer 1 chapter): the pulse on P17 is low from
// the reload until the counter reaches the compare value, high from there to
// the overflow. T1 counts every cycle.
TEST(VmuUnits, T1CompareShapesThePulse) {
    struct row {
        const char* what;
        std::uint8_t t1cnt;
        std::uint8_t reload_low, reload_high, compare_low, compare_high;
        unsigned counts_low;  // counts from the start while the pulse is low
        unsigned period;      // counts from one reload to the next
    };
    const row rows[] = {
        {"8-bit: T1L", 0x40, 0xF0, 0x00, 0xF4, 0x00, 4, 16},
        {"8-bit: compare at the reload", 0x40, 0xF8, 0x00, 0xF8, 0x00, 0, 8},
        {"16-bit", 0x60, 0xF8, 0xFF, 0xFC, 0xFF, 4, 8},
    };
    for (const row& r : rows) {
        machine m(nops(0x10000));
        m.write(vmu_sfr("IE"), 0x00);
        m.write(vmu_sfr("T1LR"), r.reload_low);
        m.write(vmu_sfr("T1HR"), r.reload_high);
        m.write(vmu_sfr("T1LC"), r.compare_low);
        m.write(vmu_sfr("T1HC"), r.compare_high);
        m.write(vmu_sfr("P1"), 0x00);
        m.write(vmu_sfr("T1CNT"), r.t1cnt);
        for (unsigned count = 0; count < 2 * r.period; ++count) {
            const bool high = (vmu_cpu_p1_drive(m.cpu).levels & 0x80) != 0;
            EXPECT_EQ(high, count % r.period >= r.counts_low) << r.what << " at " << count;
            run_cycles(m, 1);
        }
    }
}

// A compare value written while T1 runs takes effect at the next reload
// while T1CNT bit 4 (ELDT1C) is set, and not at all while it is clear.
TEST(VmuUnits, T1CompareTakesANewValueAtAReloadOnlyWithItsBit) {
    for (const bool load : {true, false}) {
        machine m(nops(0x10000));
        m.write(vmu_sfr("IE"), 0x00);
        m.write(vmu_sfr("T1LR"), 0xF0);
        m.write(vmu_sfr("T1LC"), 0xF8);
        m.write(vmu_sfr("P1"), 0x00);
        m.write(vmu_sfr("T1CNT"), load ? 0x50 : 0x40);
        m.write(vmu_sfr("T1LC"), 0xF2);  // the new value
        run_cycles(m, 16);               // one period: the reload
        run_cycles(m, 4);                // four counts on: 0xF4
        const bool high = (vmu_cpu_p1_drive(m.cpu).levels & 0x80) != 0;
        EXPECT_EQ(high, load) << load;
    }
}

// The serial ports (the manual's serial interface chapter). As master (its
// SCK pin an output) a port clocks itself, each SCK level 256 - SBR cycles,
// SCK idle high: at each fall it puts its next bit on SO, at each rise it
// shifts SI in. After eight bits SCONn bit 3 clears and the end flag (bit 1)
// rises. Bit 2 chooses the most significant bit first.
struct sio_master_case {
    const char* what;
    unsigned port;
    std::uint8_t scon;
    std::uint8_t sbr;
    std::uint8_t sent;
    std::uint8_t received;  // SI held at each bit, first bit first
    std::vector<int> so;    // SO during each bit
};

const sio_master_case sio_master_cases[] = {
    {"SIO0, MSB first, 4-cycle levels", 0, 0x0C, 0xFC, 0xA5, 0x3C, {1, 0, 1, 0, 0, 1, 0, 1}},
    {"SIO0, LSB first", 0, 0x08, 0xFC, 0xA5, 0x3C, {1, 0, 1, 0, 0, 1, 0, 1}},
    {"SIO1, MSB first, 8-cycle levels", 1, 0x0C, 0xF8, 0x81, 0xF0, {1, 0, 0, 0, 0, 0, 0, 1}},
};

TEST(VmuUnits, SerialPortAsMasterShiftsOnItsOwnClock) {
    for (const sio_master_case& c : sio_master_cases) {
        const std::uint8_t so = c.port == 0 ? 0x01 : 0x08;
        const std::uint8_t si = c.port == 0 ? 0x02 : 0x10;
        const std::uint8_t sck = c.port == 0 ? 0x04 : 0x20;
        const bool msb = (c.scon & 0x04) != 0;
        const unsigned level = 256U - c.sbr;
        machine m(nops(0x1000));
        m.write(vmu_sfr("IE"), 0x00);
        m.write(vmu_sfr("P1"), 0x00);
        m.write(vmu_sfr("P1FCR"), 0xFF);
        m.write(vmu_sfr("P1DDR"), static_cast<std::uint8_t>(so | sck));
        m.write(vmu_sfr("SBR"), c.sbr);
        m.write(c.port == 0 ? vmu_sfr("SBUF0") : vmu_sfr("SBUF1"), c.sent);
        m.write(c.port == 0 ? vmu_sfr("SCON0") : vmu_sfr("SCON1"), c.scon);
        const std::uint16_t scon = c.port == 0 ? vmu_sfr("SCON0") : vmu_sfr("SCON1");
        for (unsigned bit = 0; bit < 8; ++bit) {
            const unsigned in_bit = msb ? 7 - bit : bit;
            vmu_cpu_set_p1_pins(m.cpu, ((c.received >> in_bit) & 1) != 0 ? 0xFF : 0xFF & ~si);
            EXPECT_NE(vmu_cpu_p1_drive(m.cpu).levels & sck, 0) << c.what << " bit " << bit;
            run_cycles(m, level);  // the fall
            const vmu_p1_drive low = vmu_cpu_p1_drive(m.cpu);
            EXPECT_EQ(low.levels & sck, 0) << c.what << " bit " << bit;
            const unsigned out_bit = msb ? 7 - bit : bit;
            EXPECT_EQ((low.levels & so) != 0, ((c.sent >> out_bit) & 1) != 0)
                << c.what << " bit " << bit;
            EXPECT_EQ((low.levels & so) != 0, c.so[bit] != 0) << c.what << " bit " << bit;
            EXPECT_NE(m.read(scon) & 0x08, 0) << c.what << " bit " << bit;
            run_cycles(m, level);  // the rise
        }
        EXPECT_EQ(m.read(scon) & 0x0A, 0x02) << c.what;  // ended, flag up
        EXPECT_EQ(m.read(c.port == 0 ? vmu_sfr("SBUF0") : vmu_sfr("SBUF1")), c.received) << c.what;
    }
}

// As slave (its SCK pin an input) a port shifts on the edges the other side
// makes, however slowly: SIO1 clocked by a PC's line on SCK1, the end flag
// with its enable taking the vector 0x3B.
TEST(VmuUnits, SerialPortAsSlaveFollowsTheClockPin) {
    constexpr std::uint8_t SO1 = 0x08, SI1 = 0x10, SCK1 = 0x20;
    const std::uint8_t received = 0xC5;
    const std::uint8_t sent = 0x5A;
    machine m(nops(0x1000));
    m.write(vmu_sfr("P1"), 0x00);
    m.write(vmu_sfr("P1FCR"), 0xFF);
    m.write(vmu_sfr("P1DDR"), SO1);  // SCK1 in: slave
    m.write(vmu_sfr("SBUF1"), sent);
    m.write(vmu_sfr("SCON1"), 0x0D);  // start, MSB first, interrupt on
    for (int bit = 7; bit >= 0; --bit) {
        const std::uint8_t data = ((received >> bit) & 1) != 0 ? SI1 : 0;
        vmu_cpu_set_p1_pins(m.cpu, static_cast<std::uint8_t>(0xFF & ~SCK1 & ~SI1) | data);
        EXPECT_EQ((vmu_cpu_p1_drive(m.cpu).levels & SO1) != 0, ((sent >> bit) & 1) != 0) << bit;
        run_cycles(m, 500);  // a slow clock: nothing moves meanwhile
        EXPECT_EQ(m.cpu.pc >= 0x3B && m.cpu.pc < 0x40, false) << bit;
        vmu_cpu_set_p1_pins(m.cpu, static_cast<std::uint8_t>(0xFF & ~SI1) | data);
        run_cycles(m, 100);
        if (bit != 0) {
            EXPECT_NE(m.read(vmu_sfr("SCON1")) & 0x08, 0) << bit;
        }
    }
    EXPECT_EQ(m.read(vmu_sfr("SBUF1")), received);
    EXPECT_EQ(m.read(vmu_sfr("SCON1")) & 0x0A, 0x02);
    EXPECT_EQ(m.read(vmu_sfr("SP")), 0x81);  // the interrupt was taken, once
    EXPECT_EQ(m.cpu.serving, 1);             // and is being served
}

// Priorities (the manual's interrupt chapter): a source whose IP bit is set
// interrupts the handler of a low one, never the other way round; of two
// requests of one level, the lower vector goes first.
TEST(VmuUnits, HighPriorityNestsIntoLowAndNotTheOtherWayRound) {
    struct row {
        const char* what;
        std::uint8_t ip;
        std::uint16_t first, second;  // the vectors entered, in order (0: none)
    };
    // T0L (0x13, IP bit 0) is requested first; then T1L (0x2B, IP bit 3).
    const row rows[] = {
        {"both low: no nesting", 0x00, 0x13, 0},
        {"the later one high: it nests", 0x08, 0x13, 0x2B},
        {"the first one high: no nesting", 0x01, 0x13, 0},
    };
    for (const row& r : rows) {
        machine m(nops(0x100));
        m.write(vmu_sfr("IE"), 0x80);
        m.write(vmu_sfr("BTCR"), 0x00);
        m.write(vmu_sfr("IP"), r.ip);
        m.write(vmu_sfr("T0CNT"), 0x03);  // T0L's flag and enable: requested
        m.step();                         // the NOP that takes it up, then its entry
        m.step();
        EXPECT_EQ(m.cpu.pc, r.first) << r.what;
        m.write(vmu_sfr("T1CNT"), 0x03);
        m.step();  // the handler's NOP, which takes T1 up or not
        m.step();
        if (r.second != 0) {
            EXPECT_EQ(m.cpu.pc, r.second) << r.what;
        } else {
            EXPECT_EQ(m.cpu.pc, r.first + 2) << r.what;  // the handler's NOPs ran
        }
    }
}

// P3's continuous mode (P3INT bit 2): in HALT the flag rises again while a
// key is held, however often the program clears it; awake, and without the
// mode, only a press raises it. A key also ends HOLD.
TEST(VmuUnits, KeysInContinuousModeAndHold) {
    for (const bool continuous : {true, false}) {
        for (const bool halted : {true, false}) {
            machine m(nops());
            m.write(vmu_sfr("IE"), 0x00);
            m.write(vmu_sfr("P3INT"), continuous ? 0x04 : 0x00);
            vmu_cpu_set_buttons(m.cpu, VMU_BUTTON_A);
            m.step();
            EXPECT_NE(m.read(vmu_sfr("P3INT")) & 0x02, 0);
            m.write(vmu_sfr("PCON"), halted ? 0x01 : 0x00);
            m.write(vmu_sfr("P3INT"), continuous ? 0x04 : 0x00);  // cleared, A still held
            m.step();
            EXPECT_EQ((m.read(vmu_sfr("P3INT")) & 0x02) != 0, continuous && halted)
                << continuous << halted;
        }
    }
    machine m(nops());
    m.write(vmu_sfr("IE"), 0x00);
    m.write(vmu_sfr("P3INT"), 0x01);
    m.write(vmu_sfr("PCON"), 0x02);  // HOLD
    for (int i = 0; i < 10; ++i) {
        m.step();
    }
    EXPECT_EQ(m.cpu.pc, 0);
    vmu_cpu_set_buttons(m.cpu, VMU_BUTTON_B);
    m.step();
    EXPECT_EQ(m.read(vmu_sfr("PCON")) & 0x02, 0);
    EXPECT_EQ(m.cpu.pc, 1);
}

// The external interrupts on P7 (the manual's external interrupt section):
// an enabled edge of the chosen direction, or a level while it lasts, raises
// the flag; INT3 (P73) shares the base timer's vector.
TEST(VmuUnits, ExternalInterruptsOnP7) {
    struct row {
        const char* what;
        std::uint8_t i23cr;  // INT3 in bits 7-4
        std::uint8_t from, to;
        bool raised;
    };
    const row rows[] = {
        {"rising edge wanted, rises", 0x90, 0x00, 0x08, true},
        {"rising edge wanted, falls", 0x90, 0x08, 0x00, false},
        {"falling edge wanted, falls", 0x10, 0x08, 0x00, true},
        {"high level wanted, stays high", 0xD0, 0x08, 0x08, true},
        {"low level wanted, high", 0x50, 0x08, 0x08, false},
    };
    for (const row& r : rows) {
        machine m(nops());
        m.write(vmu_sfr("IE"), 0x80);
        m.write(vmu_sfr("BTCR"), 0x00);
        vmu_cpu_set_p7(m.cpu, r.from);
        m.write(vmu_sfr("I23CR"), r.i23cr);
        vmu_cpu_set_p7(m.cpu, r.to);
        m.step();  // the NOP that takes a request up, then its entry
        m.step();
        EXPECT_EQ(m.cpu.pc == 0x1B, r.raised) << r.what;
    }
}

}  // namespace
