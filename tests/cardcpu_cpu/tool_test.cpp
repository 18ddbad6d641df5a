// vmurx-vmu from outside: a program assembled to a file and run, with the
// screen, the registers, button presses, a card image, and the exit statuses
// and messages of errors and faults.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "card/card_edit.h"
#include "program.h"
#include "run_program.h"

namespace {

const std::string VMU = VMURX_VMU_PATH;

// "hello" in the top six rows and a mark at the start of row 16, as the
// screen shows them.
const std::vector<std::string> hello_rows = {
    "#.......................................##......",
    "#.........................####.....#.....#......",
    "###...##...#...#..........#..#...........#......",
    "#.#..####..#...#..........#..#.....#.....#......",
    "#.#..#.....#...#..##......####.....#.....#......",
    "#.#...###..##..##.##.....................###....",
};

// The rows as XRAM bank 0 holds them: pairs of 6-byte rows, each pair
// followed by a 4-byte gap.
std::string hello_bytes() {
    std::string out;
    for (std::size_t row = 0; row < hello_rows.size(); ++row) {
        for (std::size_t byte = 0; byte < 6; ++byte) {
            unsigned value = 0;
            for (std::size_t bit = 0; bit < 8; ++bit) {
                value = (value << 1) | (hello_rows[row][byte * 8 + bit] == '#' ? 1U : 0U);
            }
            out += (out.empty() ? "glyphs: .byte " : ", ") + std::to_string(value);
        }
        if (row % 2 == 1) {
            out += ", 0, 0, 0, 0";
        }
    }
    return out + "\n";
}

const std::string hello_main =
    "        mov #0,xbnk\n"
    "        mov #$80,$02\n"  // R2: 0x180
    "        mov #<glyphs,trl\n"
    "        mov #>glyphs,trh\n"
    "        mov #0,$32\n"
    "        mov #48,$34\n"
    "copy:   ld $32\n"
    "        ldc\n"
    "        st @R2\n"
    "        inc $02\n"
    "        inc $32\n"
    "        dbnz $34,copy\n"
    "        mov #1,xbnk\n"
    "        mov #$FF,$180\n"
    "        mov #0,trl\n"
    "        mov #$12,acc\n";

std::string expected_screen() {
    std::string out;
    for (int y = 0; y < VMU_LCD_HEIGHT; ++y) {
        if (y < static_cast<int>(hello_rows.size())) {
            out += hello_rows[static_cast<std::size_t>(y)];
        } else {
            out += std::string(y == 16 ? "########" : "........") + std::string(40, '.');
        }
        out += "\n";
    }
    return out;
}

// Writes `source` to DIR/NAME.s and assembles it to DIR/NAME.vms.
std::string assemble(const temp_dir& dir, const std::string& name, const std::string& source) {
    write_file(dir.file(name + ".s"), source);
    const run_result r = run_program({VMU, "asm", dir.file(name + ".s")});
    EXPECT_EQ(r.status, 0) << r.err;
    return dir.file(name + ".vms");
}

TEST(VmuTool, HelloOnTheScreenAndTheRegisters) {
    temp_dir dir;
    const std::string image = assemble(dir, "hello", game_source(hello_main, "", hello_bytes()));
    const run_result r = run_program({VMU, "run", "--regs", "--lcd", image});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "ACC=12 PSW=02 B=00 C=00 TRL=00 TRH=02 SP=7F PC=01F0\n" + expected_screen());
    EXPECT_NE(r.err.find(": game_end after "), std::string::npos) << r.err;
}

TEST(VmuTool, PressedButtonReachesP3) {
    temp_dir dir;
    // Waits for A (P3 bit 4, active low), then ends.
    const std::string image = assemble(dir, "wait", game_source("wait:   bp p3,4,wait\n"));
    run_result r = run_program({VMU, "run", "--press", "a@50", "--ms", "1000", image});
    EXPECT_EQ(r.status, 0) << r.err;
    double ms = 0;
    const std::size_t at = r.err.find("cycles (");
    ASSERT_NE(at, std::string::npos) << r.err;
    ASSERT_EQ(std::sscanf(r.err.c_str() + at, "cycles (%lf ms)", &ms), 1) << r.err;
    EXPECT_GE(ms, 50.0);
    // The few cycles to game_end after the press, at the quartz clock the
    // game starts on (183 us a cycle).
    EXPECT_LT(ms, 52.0);

    r = run_program({VMU, "run", "--ms", "300", "--press", "a@400", image});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");  // the time ran out first
}

TEST(VmuTool, CardImageNamesItsGame) {
    temp_dir dir;
    const vmu_asm_result assembled =
        vmu_assemble_text(game_source(hello_main, "", hello_bytes()), "hello.s", {});
    ASSERT_TRUE(assembled.errors.empty());
    // A card as the console formats it, with a data file first and the game
    // in the second slot; in both byte orders a card file may have.
    for (const card_order order : {card_order::raw, card_order::dcm}) {
        const save_stamp stamp{2001, 2, 3, 4, 5, 6};
        card_image card = card_new({255, 255, 255, 255}, 0, stamp, order);
        std::size_t slot = 0;
        std::string reason;
        ASSERT_TRUE(card_add(card, {"NOTES", false, false, stamp, std::vector<std::uint8_t>(512)},
                             slot, reason))
            << reason;
        ASSERT_TRUE(card_add(card, {"HELLO", true, false, stamp, assembled.image}, slot, reason))
            << reason;
        const std::vector<std::uint8_t> file = card_to_file(card);
        write_file(dir.file("card.bin"), std::string(file.begin(), file.end()));

        // The game by its name or its slot, as every program names an entry.
        for (const char* entry : {"HELLO", "#1"}) {
            const run_result r =
                run_program({VMU, "run", "--lcd", "--card", dir.file("card.bin"), entry});
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.out, expected_screen()) << entry;
        }
        const struct {
            const char* entry;
            std::string reason;
        } refusals[] = {
            {"NOTES", "the card holds no game named NOTES"},
            {"#0", "the card holds no game in slot #0"},
            {"#2", "#2: no file in slot #2"},
            {"NOPE", "NOPE: no file of this name on the card"},
        };
        for (const auto& c : refusals) {
            const run_result r = run_program({VMU, "run", "--card", dir.file("card.bin"), c.entry});
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.err, "vmurx-vmu: " + dir.file("card.bin") + ": " + c.reason + "\n");
        }
    }
}

TEST(VmuTool, FaultsAndErrorsEndWithTheirStatus) {
    temp_dir dir;
    const std::string rom = assemble(dir, "rom",
                                     game_source("        not1 ext,0\n"
                                                 "        jmpf $0456\n"));
    // A sparse file far larger than any game or card, read no further than
    // the bound.
    const std::string huge = dir.file("huge.bin");
    write_file(huge, "");
    std::filesystem::resize_file(huge, 3'000'000'000);
    // Names of terminal escapes reach the terminal as U+FFFD: a file named
    // so, a game that ends in a fault and an included file.
    const std::string R = "\xEF\xBF\xBD";
    const std::string escaped_rom = dir.file("\x1b]0;t\a.vms");
    std::filesystem::copy_file(rom, escaped_rom);
    write_file(dir.file("inc.s"), "        .include \"\x1b[31mx.i\"\n");
    struct {
        std::vector<std::string> args;
        int status;
        std::string err_start;
    } const cases[] = {
        {{"run", rom}, 1, "vmurx-vmu: " + rom + ": the program entered the BIOS at 0456"},
        {{"run", dir.file("missing.vms")},
         1,
         "vmurx-vmu: " + dir.file("missing.vms") + ": No such file or directory"},
        // Read no further than a game's 200 blocks, or a whole card's flash.
        {{"run", dir.path()}, 1, "vmurx-vmu: " + dir.path() + ": Is a directory\n"},
        {{"run", "/dev/zero"},
         1,
         "vmurx-vmu: /dev/zero: it is a character device, not a regular file\n"},
        {{"run", "--card", "/dev/zero", "X"},
         1,
         "vmurx-vmu: /dev/zero: it is a character device, not a regular file\n"},
        {{"run", huge},
         1,
         "vmurx-vmu: " + huge + ": larger than 102400 bytes, more than a game's 200 blocks\n"},
        {{"run", "--card", huge, "X"},
         1,
         "vmurx-vmu: " + huge + ": larger than 131072 bytes, more than a card image\n"},
        {{"asm", "-o", dir.file("zero.vms"), "/dev/zero"},
         1,
         "vmurx-vmu: /dev/zero: it is a character device, not a regular file\n"},
        {{"asm", "-o", dir.file("missing.vms"), dir.file("missing.s")},
         1,
         "vmurx-vmu: " + dir.file("missing.s") + ": No such file or directory\n"},
        {{"run", "--ms", "5", "--cycles", "5", rom}, 2, "vmurx-vmu: --ms and --cycles exclude"},
        {{"run", "--press", "x@5", rom}, 2, "vmurx-vmu: bad --press 'x@5'"},
        {{"run", "--bogus", rom}, 2, "vmurx-vmu: unrecognized option '--bogus'"},
        {{"run", "--ms", "0", rom}, 2, "vmurx-vmu: bad --ms '0'"},
        {{"run", "--ms", "-5", rom}, 2, "vmurx-vmu: bad --ms '-5'"},
        {{"run", "--cycles", "1000000000001", rom}, 2, "vmurx-vmu: bad --cycles '1000000000001'"},
        {{"run", "--press", "a@+5", rom}, 2, "vmurx-vmu: bad --press 'a@+5'"},
        {{"run", "--lcd=yes", rom}, 2, "vmurx-vmu: option '--lcd' doesn't allow an argument"},
        {{"run", rom, rom}, 2, "vmurx-vmu: run: one FILE only"},
        {{"asm", "--include"}, 2, "vmurx-vmu: option '--include' requires an argument"},
        {{"asm", "--ms", "5", "x.s"}, 2, "vmurx-vmu: unrecognized option '--ms'"},
        {{}, 2, "vmurx-vmu: missing command"},
        {{"frob"}, 2, "vmurx-vmu: unknown command 'frob'"},
        {{"asm"}, 2, "vmurx-vmu: asm: no SOURCE"},
        {{"run", dir.file("\x1b[2Jgone.vms")},
         1,
         "vmurx-vmu: " + dir.file(R + "[2Jgone.vms") + ": No such file or directory\n"},
        {{"run", escaped_rom},
         1,
         "vmurx-vmu: " + dir.file(R + "]0;t" + R + ".vms") +
             ": the program entered the BIOS at 0456"},
        {{"asm", dir.file("inc.s")},
         1,
         dir.file("inc.s") + ":1: cannot find \"" + R + "[31mx.i\" beside "},
        {{"run", "--ms", "\x1b[2J", rom}, 2, "vmurx-vmu: bad --ms '" + R + "[2J'"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv{VMU};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const run_result r = run_program(argv);
        EXPECT_EQ(r.status, c.status) << c.err_start;
        EXPECT_EQ(r.err.rfind(c.err_start, 0), 0U) << r.err;
        EXPECT_EQ(r.err.find_first_of("\x1b\a"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    const run_result help = run_program({VMU, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: vmurx-vmu asm", 0), 0U);
}

TEST(VmuTool, AsmErrorsLeaveNoImage) {
    temp_dir dir;
    write_file(dir.file("bad.s"), "        .org 0\n        jmpf nowhere\n");
    const run_result r = run_program({VMU, "asm", "-o", dir.file("out.vms"), dir.file("bad.s")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind(dir.file("bad.s") + ":2: ", 0), 0U) << r.err;
    EXPECT_EQ(read_file(dir.file("out.vms")), "");
    EXPECT_NE(::access(dir.file("out.vms").c_str(), F_OK), 0);
}

}  // namespace
