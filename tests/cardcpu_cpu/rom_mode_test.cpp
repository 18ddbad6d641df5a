// ROM mode: the model given a system ROM boots it at ROM 0. The project's
// own test ROM (test_rom.s) exercises what the card's ROM relies on: the
// code bank chosen by EXT, LDC in the ROM, the flash chip's unlock,
// programming and polling, both serial ports as master and slave with their
// interrupts, P7 and its interrupt out of HALT. The flash chip's command
// rules, the refusal of images that cannot be booted and vmurx-vmu run
// --bios are tested here too; the card's own ROM only when VMURX_BIOS names
// one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cardcpu/cpu/rom_screen.h"
#include "program.h"
#include "run_program.h"

namespace {

const std::string VMU = VMURX_VMU_PATH;
const std::string TEST_ROM = VMURX_TEST_ROM_PATH;

std::vector<std::uint8_t> read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// P1's serial lines wired to each other: SO0 to SI1, SO1 to SI0, and the
// clock from whichever port drives its SCK to the other's. Twice, so that a
// slave's new bit reaches the master's SI in the same instant.
void wire_serial_ports(vmu_cpu& cpu) {
    constexpr std::uint8_t SO0 = 0x01, SI0 = 0x02, SCK0 = 0x04, SO1 = 0x08, SI1 = 0x10, SCK1 = 0x20;
    for (int pass = 0; pass < 2; ++pass) {
        const vmu_p1_drive drive = vmu_cpu_p1_drive(cpu);
        std::uint8_t pins = 0xFF;
        auto copy = [&](std::uint8_t from, std::uint8_t to) {
            if ((drive.driven & from) != 0 && (drive.levels & from) == 0) {
                pins = static_cast<std::uint8_t>(pins & ~to);
            }
        };
        copy(SO0, SI1);
        copy(SO1, SI0);
        copy(SCK0, SCK1);
        copy(SCK1, SCK0);
        vmu_cpu_set_p1_pins(cpu, pins);
    }
}

TEST(VmuRomMode, TheTestRomBootsAndDrivesEachUnitFromRom) {
    const std::vector<std::uint8_t> rom = read_bytes(TEST_ROM);
    vmu_cpu cpu;
    ASSERT_TRUE(vmu_cpu_load_rom(cpu, rom));
    ASSERT_TRUE(vmu_cpu_load_card(cpu, std::vector<std::uint8_t>(VMU_FLASH_SIZE, 0xFF)));
    vmu_cpu_reset(cpu);
    EXPECT_TRUE(cpu.rom_source);
    EXPECT_EQ(cpu.pc, 0);
    vmu_cpu_set_p7(cpu, 0x0A);  // the battery good, a peer
    bool raised = false;
    while (cpu.state == vmu_cpu_state::running && game_ram(cpu, 0x1F) != 0xFF &&
           cpu.cycles < 2'000'000) {
        vmu_cpu_step(cpu);
        wire_serial_ports(cpu);
        if (!raised && game_ram(cpu, 0x1E) == 0xFF &&
            (vmu_cpu_read(cpu, vmu_sfr("PCON")) & 0x01) != 0) {
            vmu_cpu_set_p7(cpu, 0x0B);  // 5 V: P70 rises
            raised = true;
        }
    }
    ASSERT_EQ(cpu.state, vmu_cpu_state::running) << cpu.fault << " at " << cpu.fault_pc;
    ASSERT_TRUE(raised) << "the test ROM never halted for P7";
    ASSERT_EQ(game_ram(cpu, 0x1F), 0xFF) << "the test ROM did not finish; PC " << cpu.pc;
    struct result {
        unsigned address;
        std::uint8_t expected;
        const char* what;
    };
    const result results[] = {
        {0x10, 0xA5, "booted through the reset vector at ROM 0"},
        {0x11, 0xC7, "LDC in the ROM reads the ROM, not the flash"},
        {0x12, 0xFF, "a write without the unlock sequence changes nothing"},
        {0x14, 0x00, "the page reads back as written"},
        {0x15, 0x5A, "EXT bit 0 set at JMPF runs the flash"},
        {0x16, 0x3C, "EXT bit 0 clear at JMPF runs the ROM again"},
        {0x17, 0x04, "each port's end interrupt, in both roles"},
        {0x18, 0x3C, "SIO0 as master took the slave's byte"},
        {0x19, 0xC3, "SIO1 as slave took the master's byte"},
        {0x1A, 0x96, "SIO0 as slave took the master's byte"},
        {0x1B, 0x69, "SIO1 as master took the slave's byte"},
        {0x1C, 0x0A, "P7 as the pins were"},
        {0x1D, 0x0B, "P7 after 5 V came"},
        {0x20, 0x01, "INT0 once, on P70's rise, out of HALT"},
    };
    for (const result& r : results) {
        EXPECT_EQ(game_ram(cpu, r.address), r.expected) << r.what;
    }
    // The chip was busy after the page's last byte, and the ROM waited.
    EXPECT_GT(game_ram(cpu, 0x13), 0) << "no read saw the page programming";
    EXPECT_LT(game_ram(cpu, 0x13), 0xFF);
    for (unsigned i = 0; i < VMU_FLASH_PAGE; ++i) {
        ASSERT_EQ(cpu.flash[0x400 + i], game_ram(cpu, 0x80 + i)) << "page byte " << i;
    }
    EXPECT_EQ(cpu.flash[0x480], 0xFF);
    EXPECT_TRUE(cpu.rom_source);
}

// The flash chip's rules, from a game (the chip is the same in both
// modes): a write is a command, and only the whole unlock sequence under
// FPR bit 1 lets a page in.
struct flash_write {
    unsigned fpr;
    unsigned address;
    unsigned value;
};

std::string writes_source(const std::vector<flash_write>& writes) {
    std::string source;
    for (const flash_write& w : writes) {
        source += "        mov #" + std::to_string(w.fpr) + ",fpr\n        mov #" +
                  std::to_string(w.address >> 8) + ",trh\n        mov #" +
                  std::to_string(w.address & 0xFF) + ",trl\n        mov #" +
                  std::to_string(w.value) + ",acc\n        stf\n";
    }
    return source;
}

TEST(VmuRomMode, FlashTakesAPageOnlyAfterItsWholeUnlockSequence) {
    const std::vector<flash_write> unlock = {
        {2, 0x5555, 0xAA}, {2, 0x2AAA, 0x55}, {2, 0x5555, 0xA0}};
    struct flash_case {
        const char* name;
        std::vector<flash_write> before;
        bool written;
    };
    const flash_case cases[] = {
        {"the sequence", unlock, true},
        {"the sequence begun again after a stray first write",
         {{2, 0x5555, 0xAA}, {2, 0x5555, 0xAA}, {2, 0x2AAA, 0x55}, {2, 0x5555, 0xA0}},
         true},
        {"no sequence", {}, false},
        {"out of order", {{2, 0x2AAA, 0x55}, {2, 0x5555, 0xAA}, {2, 0x5555, 0xA0}}, false},
        {"a wrong address", {{2, 0x5555, 0xAA}, {2, 0x2AAB, 0x55}, {2, 0x5555, 0xA0}}, false},
        {"FPR bit 1 clear", {{0, 0x5555, 0xAA}, {0, 0x2AAA, 0x55}, {0, 0x5555, 0xA0}}, false},
    };
    for (const flash_case& c : cases) {
        SCOPED_TRACE(c.name);
        // Then 128 bytes i + 1 at the page 0x3000 with FPR 0, and reads of
        // the last until it gives its 128, counted in B.
        const std::string main = writes_source(c.before) +
                                 "        mov #0,fpr\n"
                                 "        mov #$30,trh\n"
                                 "        mov #0,trl\n"
                                 "        mov #1,acc\n"
                                 "page:   stf\n"
                                 "        inc trl\n"
                                 "        inc acc\n"
                                 "        bne #129,page\n"
                                 "        dec trl\n"
                                 "        mov #1,b\n"
                                 "poll:   ldf\n"
                                 "        be #128,done\n"
                                 "        inc b\n"
                                 "        ld b\n"
                                 "        bnz poll\n"
                                 "done:   nop\n";
        vmu_cpu cpu;
        load_program(cpu, game_source(main));
        run_to_end(cpu, 10'000'000);
        ASSERT_EQ(cpu.state, vmu_cpu_state::ended) << cpu.fault << " at " << cpu.fault_pc;
        for (unsigned i = 0; i < VMU_FLASH_PAGE; ++i) {
            ASSERT_EQ(cpu.flash[0x3000 + i], c.written ? i + 1 : 0) << "byte " << i;
        }
        // A page written was read as the chip's status first (bit 7 the
        // last byte's complement); one not written never reads 128 (B
        // wraps to 0).
        EXPECT_EQ(vmu_cpu_read(cpu, vmu_sfr("B")) > 1, c.written);
    }
}

TEST(VmuRomMode, ImagesTheModelCannotBootAreRefusedWithTheReason) {
    const std::vector<std::uint8_t> good = read_bytes(TEST_ROM);
    // A ROM that stops the clock it runs on, once its reset vector led there.
    const vmu_asm_result stopping = vmu_assemble_text(
        "        .include \"sfr.i\"\n        jmpf stop\n        .org $200\n"
        "stop:   mov #$02,ocr\n        .org $ffff\n        .byte 0\n",
        "stop.s", {});
    ASSERT_TRUE(stopping.errors.empty());
    struct image_case {
        const char* name;
        std::vector<std::uint8_t> image;
        const char* reason;  // a part of the reason, or "" for none
    };
    const image_case cases[] = {
        {"the test ROM", good, ""},
        {"a byte short", std::vector<std::uint8_t>(VMU_ROM_SIZE - 1, 0x21), "65535 bytes"},
        {"a byte over", std::vector<std::uint8_t>(VMU_ROM_SIZE + 1, 0x21), "65537 bytes"},
        {"erased", std::vector<std::uint8_t>(VMU_ROM_SIZE, 0xFF), "no jump at its reset vector"},
        {"a fault at once", stopping.image, "stopped the clock the processor runs on at PC 0200"},
    };
    for (const image_case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string problem = vmu_rom_problem(c.image);
        if (*c.reason == '\0') {
            EXPECT_EQ(problem, "");
        } else {
            EXPECT_NE(problem.find(c.reason), std::string::npos) << problem;
        }
    }
}

TEST(VmuRomMode, RunBiosBootsAGoodRomAndRefusesOthersWithStatus2) {
    temp_dir dir;
    write_bytes(dir.file("short.bin"), std::vector<std::uint8_t>(100, 0x21));
    write_bytes(dir.file("notacard.bin"), std::vector<std::uint8_t>(100, 0));
    struct run_case {
        std::string args;
        std::vector<std::string> env;
        int status;
        std::string err;  // a part of standard error
    };
    const run_case cases[] = {
        {"run --bios " + TEST_ROM + " --cycles 2000 --regs", {}, 0, ""},
        {"run --cycles 2000 --regs", {"VMURX_BIOS=" + TEST_ROM}, 0, ""},
        {"run --bios " + dir.file("short.bin"),
         {},
         2,
         "vmurx-vmu: " + dir.file("short.bin") +
             ": not a system ROM the model can boot: 100 bytes, where a system ROM has 65536\n"},
        {"run --bios " + TEST_ROM + " game.vms", {}, 2, "give no FILE with --bios"},
        {"run --bios " + dir.file("missing.bin"), {}, 1, "missing.bin: "},
        {"run --bios " + TEST_ROM + " --card " + dir.file("notacard.bin"), {}, 1, "notacard.bin: "},
        {"run", {}, 2, "run: no FILE (or --bios ROM to boot the system ROM)"},
        {"run --text game.vms", {}, 2, "--text reads the screen with the system ROM's font"},
        // The person at the card: only on a ROM, pressing the buttons alone,
        // and a file to copy needs a card that holds it.
        {"run --person receive game.vms", {}, 2, "--person plays the person at the system ROM"},
        {"run --bios " + TEST_ROM + " --person receive --ms 5", {}, 2, "give no --press, --ms"},
        {"run --bios " + TEST_ROM + " --person copy:", {}, 2, "bad --person 'copy:'"},
        {"run --bios " + TEST_ROM + " --person copy:NOTES",
         {},
         1,
         "NOTES: a newly formatted card holds no file: give --card IMAGE"},
        {"run --bios " + TEST_ROM + " --screen", {}, 2, "--screen prints the screens --person"},
    };
    for (const run_case& c : cases) {
        SCOPED_TRACE(c.args);
        std::vector<std::string> argv = split_words(c.args);
        argv.insert(argv.begin(), VMU);
        run_options options;
        options.env = c.env;
        options.unset = {"VMURX_BIOS"};
        const run_result r = run_program(argv, options);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        if (c.status == 0) {
            EXPECT_NE(r.out.find("SP="), std::string::npos) << r.out;
        }
    }
}

// Sets pixel (x, y) dark in XRAM, as vmu_cpu_lcd_pixel reads it.
void set_pixel(vmu_cpu& cpu, int x, int y) {
    const int row = y % 16;
    const int index = (y / 16) * 0x80 + (row / 2) * 16 + (row % 2) * 6 + x / 8;
    cpu.xram[static_cast<std::size_t>(index)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
}

TEST(VmuRomMode, TheScreenReadsAsTextInTheRomsFont) {
    // A font of our own at the ROM's font address: 'A' a frame with a bar,
    // and the cells drawn as the ROM draws text, 6 x 8 on a grid of 8 x 4.
    std::vector<std::uint8_t> rom(VMU_ROM_SIZE, 0);
    rom[0] = 0x21;  // a jump, for the loader's sake
    const unsigned glyph[8] = {0x1E, 0x21, 0x21, 0x3F, 0x21, 0x21, 0x21, 0x00};
    for (unsigned r = 0; r < 8; ++r) {
        rom[0xE800 + r * 256 + 'A'] = static_cast<std::uint8_t>(glyph[r] << 2);
    }
    vmu_cpu cpu;
    ASSERT_TRUE(vmu_cpu_load_rom(cpu, rom));
    vmu_cpu_reset(cpu);
    vmu_cpu_write(cpu, vmu_sfr("VCCR"), 0x80);
    auto draw = [&](int column, int line, unsigned invert) {
        for (int r = 0; r < 8; ++r) {
            for (int x = 0; x < 6; ++x) {
                if ((((glyph[r] ^ invert) >> (5 - x)) & 1) != 0) {
                    set_pixel(cpu, column * 6 + x, line * 8 + r);
                }
            }
        }
    };
    draw(2, 1, 0);
    draw(7, 3, 0x3F);
    set_pixel(cpu, 0, 0);  // no character of the font
    const vmu_screen_text text = vmu_rom_screen_text(cpu);
    const std::array<std::string, 4> lines = {"#       ", "  A     ", "        ", "       A"};
    const std::array<std::string, 4> inverted = {"........", "........", "........", ".......x"};
    EXPECT_EQ(text.lines, lines);
    EXPECT_EQ(text.inverted, inverted);
}

// The card's own ROM, when the environment names one: it boots on a new
// card to its clock-setting screen, without a fault, and stays in the ROM.
TEST(VmuRomMode, TheCardsRomBootsToItsClockScreen) {
    const char* path = std::getenv("VMURX_BIOS");
    if (path == nullptr || *path == '\0') {
        GTEST_SKIP() << "VMURX_BIOS names no system ROM";
    }
    const std::vector<std::uint8_t> rom = read_bytes(path);
    ASSERT_EQ(vmu_rom_problem(rom), "");
    vmu_cpu cpu;
    ASSERT_TRUE(vmu_cpu_load_rom(cpu, rom));
    vmu_cpu_reset(cpu);
    constexpr std::uint64_t three_seconds_ps = 3'000'000'000'000;
    while (cpu.state == vmu_cpu_state::running && cpu.time_ps < three_seconds_ps) {
        vmu_cpu_step(cpu);
    }
    ASSERT_EQ(cpu.state, vmu_cpu_state::running) << cpu.fault << " at " << cpu.fault_pc;
    EXPECT_TRUE(cpu.rom_source);
    int dark = 0;
    for (int y = 0; y < VMU_LCD_HEIGHT; ++y) {
        for (int x = 0; x < VMU_LCD_WIDTH; ++x) {
            dark += vmu_cpu_lcd_pixel(cpu, x, y) ? 1 : 0;
        }
    }
    EXPECT_GT(dark, 100) << "the screen is blank";
}

// The card's own ROM warns of a low battery in its own font, which the
// screen's text is read with.
TEST(VmuRomMode, TheCardsRomScreenReadsAsText) {
    const char* path = std::getenv("VMURX_BIOS");
    if (path == nullptr || *path == '\0') {
        GTEST_SKIP() << "VMURX_BIOS names no system ROM";
    }
    vmu_cpu cpu;
    ASSERT_TRUE(vmu_cpu_load_rom(cpu, read_bytes(path)));
    vmu_cpu_reset(cpu);
    vmu_cpu_set_p7(cpu, 0x00);  // the battery's voltage low
    // It counts six low readings of its half-second tick before it warns.
    constexpr std::uint64_t eight_seconds_ps = 8'000'000'000'000;
    while (cpu.state == vmu_cpu_state::running && cpu.time_ps < eight_seconds_ps) {
        vmu_cpu_step(cpu);
    }
    const vmu_screen_text text = vmu_rom_screen_text(cpu);
    EXPECT_EQ(text.lines[0], "Please  ");
    EXPECT_EQ(text.lines[1], " change ");
    EXPECT_EQ(text.lines[2], " battery");
}

}  // namespace
