// vmurx-save and vmurx-emu run as a user runs them, on files built from the
// layout: check's lines and exit statuses, info's JSON, convert's round trips
// and its refusals, pictures read back with libpng, and the software VMU
// sending a DCI and a VMS with its VMI.
#include <png.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>

#include "run_program.h"
#include "save_program.h"

namespace {

const std::uint8_t STAMP_2002[8] = {0x20, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x00};
constexpr long STAMP_2002_UTC = 1015218367;  // 2002-03-04 05:06:07 UTC

run_result run(const temp_dir& dir, const std::string& command_line,
               const std::string& tz = "UTC") {
    return run_save(dir, command_line, tz);
}

TEST(Check, PrintsALinePerFileAndTheWorstStatus) {
    temp_dir dir;
    bytes wrong = make_save({});
    wrong[0x290] ^= 0x80;
    bytes truncated = make_save({.payload = 600});
    truncated.resize(1024);
    write_bytes(dir, "GOOD", make_save({}));
    write_bytes(dir, "GAME", make_save({.game = true}));
    write_bytes(dir, "WRONG", wrong);
    write_bytes(dir, "SHORT", truncated);
    write_bytes(dir, "ZEROS", bytes(512, 0));
    write_bytes(dir, "good.dci", make_dci(make_save({}), 0x33, "GOOD", STAMP_2002));
    mkdir(dir.file("DIR").c_str(), 0755);
    char crcs[64];
    std::snprintf(crcs, sizeof crcs, "(checksum 0x%04X, computed 0x%04X)",
                  expected_crc(make_save({}), 0x80 + 512 + 100),
                  expected_crc(wrong, 0x80 + 512 + 100));
    const struct {
        std::string files, out;
        int status;
    } cases[] = {
        {"GOOD good.dci", "GOOD: OK\ngood.dci: OK\n", 0},
        {"GAME", "GAME: OK (game file, no checksum)\n", 0},
        {"GOOD WRONG", "GOOD: OK\nWRONG: FAILED " + std::string(crcs) + "\n", 1},
        {"SHORT", "SHORT: FAILED (truncated: the checksum covers 1240 bytes, the file has 1024)\n",
         1},
        {"ZEROS WRONG",
         "ZEROS: not a save (no save header at 0 or 0x200)\nWRONG: FAILED " + std::string(crcs) +
             "\n",
         2},
        {"ABSENT GOOD", "ABSENT: cannot read (No such file or directory)\nGOOD: OK\n", 2},
        {"DIR", "DIR: cannot read (Is a directory)\n", 2},
    };
    for (const auto& c : cases) {
        const run_result r = run(dir, "check " + c.files);
        EXPECT_EQ(r.out, c.out) << c.files;
        EXPECT_EQ(r.status, c.status) << c.files;
    }
}

TEST(Info, ReportsEveryFieldAsJson) {
    temp_dir dir;
    write_bytes(dir, "x.dci",
                make_dci(make_save({.description = "\xB1\xB2 SAVE", .icons = 2}), 0x33, "CARD",
                         STAMP_2002));
    write_bytes(dir, "ZEROS", bytes(512, 0));
    const run_result r = run(dir, "info --json x.dci ZEROS");
    EXPECT_EQ(r.status, 0);
    const std::string app = "54455354415050000000000000000000";  // "TESTAPP"
    for (const std::string& field : std::vector<std::string>{
             "[\n  {\n    \"file\": \"x.dci\",\n",
             "\"format\": \"dci\",",
             "\"type\": \"data\",",
             "\"name\": \"CARD\",",
             "\"stamp\": \"2002-03-04T05:06:07\",",
             "\"protected\": false,",
             "\"size\": 1536,",
             "\"blocks\": 3,",
             "\"header_offset\": 0,",
             "\"description\": \"\xEF\xBD\xB1\xEF\xBD\xB2 SAVE\",",
             "\"boot_description\": \"a save for the tests\",",
             "\"application\": \"" + app + "\",\n    \"application_text\": \"TESTAPP\",",
             "\"icons\": 2,",
             "\"icon_speed\": 8,",
             "\"eyecatch\": 0,",
             "\"payload\": 100,",
             "\"ok\": true}",
             "\"verdict\": \"intact\",",
             "\"problems\": []\n  },\n",
             "\"file\": \"ZEROS\",\n    \"format\": \"vms\",\n    \"type\": null,\n    \"name\": "
             "\"ZEROS\",",
             "\"header_offset\": null,\n    \"description\": null,\n    \"boot_description\": "
             "null,\n    \"application\": null,\n    \"application_text\": null,\n    \"icons\": "
             "null,\n    \"icon_speed\": null,\n "
             "   \"eyecatch\": null,\n    \"payload\": null,\n    \"crc\": null,\n    \"verdict\": "
             "\"not-a-save\",\n    \"problems\": [\"no save header at 0 or 0x200\"]\n  }\n]\n"}) {
        EXPECT_NE(r.out.find(field), std::string::npos) << field << "\n" << r.out;
    }
}

TEST(Convert, RoundTripsBetweenBytesVmsAndDci) {
    temp_dir dir;
    const bytes content = make_save({.payload = 1000});
    const bytes dci = make_dci(content, 0x33, "CARD", STAMP_2002);
    write_bytes(dir, "CARD", content);
    const std::string stamp = " --stamp 20020304050607";
    const struct {
        const char* rule;
        std::string command, out;
        bytes expected;
    } steps[] = {
        {"bytes to DCI", "convert CARD a.dci" + stamp, "a.dci", dci},
        {"DCI to bytes, with the DCI's stamp", "convert a.dci b.bin", "b.bin", content},
        {"bytes to VMS", "convert CARD SAVE.VMS" + stamp, "SAVE.VMS", content},
        {"VMS with VMI to DCI", "convert SAVE.VMS c.dci", "c.dci", dci},
        {"the VMI alone names the VMS", "convert SAVE.VMI d.DCI", "d.DCI", dci},
        {"a .vmi as the target writes the pair", "convert d.DCI e.vmi", "e.vms", content},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.rule);
        const run_result r = run(dir, s.command);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(read_bytes(dir, s.out), s.expected);
        EXPECT_EQ(mtime_of(dir.file(s.out)), STAMP_2002_UTC);
    }
    const bytes vmi = read_bytes(dir, "SAVE.VMI");
    ASSERT_EQ(vmi.size(), 108u);
    EXPECT_EQ(as_string(bytes(vmi.begin() + 4, vmi.begin() + 14)), std::string("TEST SAVE\0", 10));
    EXPECT_EQ(as_string(bytes(vmi.begin() + 0x50, vmi.begin() + 0x58)),
              std::string("SAVE\0\0\0\0", 8));
    EXPECT_EQ(as_string(bytes(vmi.begin() + 0x58, vmi.begin() + 0x5C)), "CARD");
    EXPECT_EQ(vmi[0x68] | vmi[0x69] << 8, 2048);
}

TEST(Stamps, AreLocalStandardTimeAlsoInSummer) {
    const struct {
        std::string tz, stamp;
        long utc;  // the modification time written
    } cases[] = {
        {"UTC", "20020704050607", 1025759167},
        {"Europe/Berlin", "20020704050607", 1025759167 - 3600},
        {"Europe/Berlin", "20020104050607", 1010120767 - 3600},
        {"America/New_York", "20020704050607", 1025759167 + 5 * 3600},
        // mktime's failure value, and yet a real second: the stamp is set.
        {"UTC", "19691231235959", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tz + " " + c.stamp);
        temp_dir dir;
        write_bytes(dir, "CARD", make_save({}));
        ASSERT_EQ(run(dir, "convert --stamp " + c.stamp + " CARD OUT", c.tz).status, 0);
        EXPECT_EQ(mtime_of(dir.file("OUT")), c.utc);
        const std::string iso = c.stamp.substr(0, 4) + "-" + c.stamp.substr(4, 2) + "-" +
                                c.stamp.substr(6, 2) + "T" + c.stamp.substr(8, 2) + ":" +
                                c.stamp.substr(10, 2) + ":" + c.stamp.substr(12, 2);
        EXPECT_NE(run(dir, "info --json OUT", c.tz).out.find("\"stamp\": \"" + iso + "\""),
                  std::string::npos);
    }
}

TEST(Convert, RefusesWithoutWritingAnything) {
    const struct {
        const char* rule;
        std::string before;  // files made first: "name"
        std::string command;
        std::string message;
        bool out_exists;
    } cases[] = {
        {"an existing output", "OUT.dci", "convert CARD OUT.dci",
         "OUT.dci: File exists (use --force to replace it)\n", true},
        {"an existing VMI beside the VMS", "OUT.vmi", "convert CARD OUT.vms",
         "OUT.vmi: File exists (use --force to replace it)\n", false},
        {"a card name longer than 12 bytes", "", "convert --name ABCDEFGHIJKLM CARD OUT.dci",
         "1 to 12 bytes", false},
        {"a resource name longer than 8 bytes", "", "convert CARD LONGNAME9.vms", "1 to 8 bytes",
         false},
        {"a stamp before 1900", "", "convert --stamp 18991231235959 CARD OUT.dci",
         "between the years 1900 and 9999", false},
        {"no name for a DCI", "", "convert THIRTEEN_LONG OUT.dci",
         "is longer than a card name's 12 bytes (give --name)\n", false},
        {"not a save and no type", "", "convert ZEROS OUT.dci",
         "ZEROS: not a save, so its type is unknown (give --type)\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        temp_dir dir;
        write_bytes(dir, "CARD", make_save({}));
        write_bytes(dir, "THIRTEEN_LONG", make_save({}));
        write_bytes(dir, "ZEROS", bytes(512, 0));
        if (!c.before.empty())
            write_file(dir.file(c.before), "keep");
        const run_result r = run(dir, c.command);
        // A malformed option value is a bad option, with the usage.
        const bool bad_value = c.command.find("--") != std::string::npos;
        EXPECT_EQ(r.status, bad_value ? 2 : 1);
        EXPECT_EQ(r.err.find("\nUsage: vmurx-save") != std::string::npos, bad_value) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        if (!c.before.empty()) {
            EXPECT_EQ(read_file(dir.file(c.before)), "keep");
        }
        const std::string out = c.command.substr(c.command.rfind(' ') + 1);
        EXPECT_EQ(mtime_of(dir.file(out)) != -1, c.out_exists);
        std::size_t count = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path()))
            ++count;
        EXPECT_EQ(count, 3u + (c.before.empty() ? 0 : 1)) << "a temporary file was left";
    }
    temp_dir dir;
    write_bytes(dir, "CARD", make_save({}));
    write_file(dir.file("OUT.dci"), "keep");
    EXPECT_EQ(run(dir, "convert --force --stamp 20020304050607 CARD OUT.dci").status, 0);
    EXPECT_EQ(read_bytes(dir, "OUT.dci"), make_dci(make_save({}), 0x33, "CARD", STAMP_2002));
}

// A PNG read back through libpng as 8-bit RGBA.
struct decoded_png {
    bool ok = false;
    png_uint_32 width = 0, height = 0;
    std::vector<std::uint8_t> pixels;
    std::vector<int> at(png_uint_32 x, png_uint_32 y) const {
        const auto* p = &pixels[(y * width + x) * 4];
        return {p[0], p[1], p[2], p[3]};
    }
};

decoded_png read_png(const std::string& path) {
    decoded_png result;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return result;
    image.format = PNG_FORMAT_RGBA;
    result.pixels.resize(PNG_IMAGE_SIZE(image));
    result.ok = png_image_finish_read(&image, nullptr, result.pixels.data(), 0, nullptr) != 0;
    result.width = image.width;
    result.height = image.height;
    return result;
}

TEST(Pictures, AreWrittenAsRgbaPngs) {
    temp_dir dir;
    write_bytes(dir, "TWO", make_save({.icons = 2, .eyecatch = 3}));
    write_bytes(dir, "GAME", make_save({.game = true}));
    bytes icondata(0x20 + 128, 0);
    icondata[0x10] = 0x20;  // the monochrome icon, no colour one
    icondata[0x20] = 0x80;  // its first pixel dark
    write_bytes(dir, "ICONDATA_VMS", icondata);
    const std::vector<int> red{255, 0, 0, 255}, blue{0, 0, 255, 136}, clear{0, 0, 0, 0},
        black{0, 0, 0, 255}, white{255, 255, 255, 255};
    const struct {
        std::string command;
        png_uint_32 width, height;
        std::vector<std::pair<std::pair<png_uint_32, png_uint_32>, std::vector<int>>> pixels;
    } cases[] = {
        {"icon TWO a.png",
         64,
         32,
         {{{0, 0}, red}, {{1, 0}, blue}, {{32, 0}, clear}, {{33, 1}, blue}}},
        {"icon --scale 3 TWO b.png", 192, 96, {{{2, 2}, red}, {{3, 0}, blue}, {{98, 2}, clear}}},
        {"icon --frame 2 TWO c.png", 32, 32, {{{0, 0}, clear}, {{0, 1}, red}}},
        {"icon GAME d.png", 32, 32, {{{0, 0}, red}}},
        {"icon ICONDATA_VMS g.png", 32, 32, {{{0, 0}, black}, {{1, 0}, white}}},
        {"eyecatch --scale 2 TWO e.png", 144, 112, {{{0, 0}, clear}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        const run_result r = run(dir, c.command);
        EXPECT_EQ(r.status, 0) << r.err;
        const decoded_png png = read_png(dir.file(c.command.substr(c.command.rfind(' ') + 1)));
        ASSERT_TRUE(png.ok);
        EXPECT_EQ(png.width, c.width);
        EXPECT_EQ(png.height, c.height);
        for (const auto& [xy, rgba] : c.pixels)
            EXPECT_EQ(png.at(xy.first, xy.second), rgba) << xy.first << "," << xy.second;
    }
    const struct {
        std::string command, message;
        int status;
    } refusals[] = {
        {"eyecatch GAME f.png", "no eyecatch", 1},
        {"icon --frame 3 TWO f.png", "no frame 3", 1},
        {"icon TWO a.png", "a.png: File exists (use --force to replace it)\n", 1},
        {"icon --scale 17 TWO f.png", "bad scale '17'", 2},
        {"icon --scale 0 TWO f.png", "bad scale '0'", 2},
        {"icon --frame 0 TWO f.png", "bad frame '0'", 2},
        {"icon --frame 4 TWO f.png", "bad frame '4'", 2},
        {"icon --frame x TWO f.png", "bad frame 'x'", 2},
        {"icon --frame 2 GAME f.png", "no frame 2 (the save has 1 icon)", 1},
        {"icon TWO", "expected FILE and OUT.png", 2},
    };
    for (const auto& c : refusals) {
        const run_result r = run(dir, c.command);
        EXPECT_EQ(r.status, c.status) << c.command;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(mtime_of(dir.file("f.png")), -1);
    }
}

TEST(CommandLine, HelpOnStdoutBadUsageOnStderr) {
    temp_dir dir;
    const struct {
        std::string args;
        int status;
        bool usage_on_stdout;
    } cases[] = {
        {"--help", 0, true},
        {"check --help", 0, true},
        {"-h", 0, true},
        {"convert -h", 0, true},
        {"", 2, false},
        {"frobnicate x", 2, false},
        {"check --json x", 2, false},
        {"convert --name", 2, false},
        {"convert --type foo IN x.dci", 2, false},
        {"convert --stamp 2001 IN x.dci", 2, false},
        {"convert --description 123456789012345678901234567890123 IN x.dci", 2, false},
        {"convert --copyright 123456789012345678901234567890123 IN x.dci", 2, false},
        {"icon --frame 0x2 --scale 17 IN x.png", 2, false},
        {"icon --frame 4 IN x.png", 2, false},
        {"eyecatch --frame 1 IN x.png", 2, false},
        {"check --help --json", 0, true},
    };
    for (const auto& c : cases) {
        const run_result r = run(dir, c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_EQ(r.out.starts_with("Usage: vmurx-save"), c.usage_on_stdout) << c.args;
        EXPECT_EQ(r.err.find("Usage: vmurx-save") != std::string::npos, !c.usage_on_stdout);
    }
    EXPECT_EQ(run(dir, "--version").out, "vmurx-save (vmurx) 1.1\n");
}

TEST(EmuSendsSaves, WithTheirOwnNameTypeAndStamp) {
    const bytes content = make_save({.payload = 1000});
    const bytes game = make_save({.game = true});
    const struct {
        const char* rule;
        std::string file, options, received;
        bytes sent;
        long stamp;
    } cases[] = {
        {"a DCI", "x.dci", "", "CARD", content, STAMP_2002_UTC},
        {"a VMS with its VMI", "SAVE.VMS", "", "CARD", content, STAMP_2002_UTC},
        {"a game DCI, the name overridden", "g.dci", "--name OTHER", "OTHER", game, STAMP_2002_UTC},
        {"a DCI, the stamp overridden", "x.dci", "--stamp 19991231235958", "CARD", content,
         946684798},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        temp_dir in, out;
        write_bytes(in, "x.dci", make_dci(content, 0x33, "CARD", STAMP_2002));
        write_bytes(in, "g.dci", make_dci(game, 0xCC, "GAMEFILE", STAMP_2002));
        write_bytes(in, "CARD", content);
        ASSERT_EQ(run(in, "convert --stamp 20020304050607 CARD SAVE.VMS").status, 0);
        std::vector<std::string> argv{VMURX_EMU_PATH, "--file", in.file(c.file)};
        std::istringstream words(c.options + " -- -v");
        for (std::string word; words >> word;)
            argv.push_back(word);
        const run_result r = run_program(argv, {.cwd = out.path(), .env = {"TZ=UTC"}, .unset = {}});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find(c.sent == game ? "Type: Game" : "Type: Data"), std::string::npos);
        EXPECT_EQ(read_bytes(out, c.received), c.sent);
        EXPECT_EQ(mtime_of(out.file(c.received)), c.stamp);
    }
    // The built-in sample is a genuine data save.
    temp_dir out;
    ASSERT_EQ(run_program({VMURX_EMU_PATH}, {.cwd = out.path(), .env = {}, .unset = {}}).status, 0);
    EXPECT_EQ(run(out, "check VMURX_DEMO").out, "VMURX_DEMO: OK\n");
    EXPECT_EQ(run(out, "icon VMURX_DEMO icon.png").status, 0);
    EXPECT_EQ(read_png(out.file("icon.png")).width, 32u);
}

}  // namespace
