// Finding a port's number from its base address, and listing every port,
// against procfs trees made up in a temporary directory.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "platform/linux/parport_discovery.h"
#include "run_program.h"

namespace {

struct parse_case {
    const char* text;
    std::optional<std::uint16_t> base;
};

TEST(ParseBaseAddr, AcceptsOnlyALeadingDecimalNumber) {
    const parse_case cases[] = {
        {"888\t1912\n", 888},
        {"888\n", 888},
        {"888", 888},
        {"60416\t60424\n", 0xEC00},
        {"65535\t0\n", 0xFFFF},
        {"0\t0\n", 0},
        {"", std::nullopt},
        {"\n", std::nullopt},
        {"abc\t0\n", std::nullopt},
        {"0x378\t0\n", std::nullopt},
        {"888x\t0\n", std::nullopt},
        {"888 1912", std::nullopt},
        {"-888\t0\n", std::nullopt},
        {" 888\t0\n", std::nullopt},
        {"65536\t0\n", std::nullopt},
        {"99999999999999999999999\t0\n", std::nullopt},
    };
    for (const parse_case& c : cases) {
        EXPECT_EQ(parse_base_addr(c.text), c.base) << '"' << c.text << '"';
    }
}

// One directory under the made-up root. base-addr is written when `contents`
// is given; `unreadable` makes base-addr a directory, which no one can read as
// a file (a mode of 000 would not stop root).
struct entry {
    const char* name;
    const char* contents = nullptr;
    bool unreadable = false;
};

struct discovery_case {
    const char* title;
    std::vector<entry> entries;
    std::uint16_t base;
    int number;
    int error;
    bool root_missing = false;
};

TEST(FindParport, SearchesTheKernelsListOfPorts) {
    const discovery_case cases[] = {
        {"one port", {{"parport0", "888\t1912\n"}}, 0x378, 0, 0},
        {"an add-in card among several ports",
         {{"parport0", "888\t1912\n"}, {"parport1", "60416\t60424\n"}, {"parport2", "632\t0\n"}},
         0xEC00,
         1,
         0},
        {"no port at that base",
         {{"parport0", "888\t1912\n"}, {"parport1", "60416\t60424\n"}},
         0x3BC,
         -1,
         ENODEV},
        {"no ports published", {}, 0x378, -1, ENODEV},
        {"no parport driver", {}, 0x378, -1, ENOENT, true},
        {"unreadable and missing files are skipped",
         {{"parport0", nullptr, true}, {"parport1"}, {"parport2", "888\t0\n"}},
         0x378,
         2,
         0},
        {"malformed contents are skipped",
         {{"parport0", "0x378\n"},
          {"parport1", "garbage"},
          {"parport2", ""},
          {"parport3", "888x\t0\n"},
          {"parport4", "888\t0\n"}},
         0x378,
         4,
         0},
        {"only parportN entries count",
         {{"default", "888\t0\n"},
          {"parport", "888\t0\n"},
          {"parportA", "888\t0\n"},
          {"parport1x", "888\t0\n"},
          {"parport7", "888\t0\n"}},
         0x378,
         7,
         0},
        {"the lowest number wins, in numeric order",
         {{"parport10", "888\t0\n"}, {"parport2", "888\t0\n"}, {"parport3", "632\t0\n"}},
         0x378,
         2,
         0},
    };
    for (const discovery_case& c : cases) {
        temp_dir dir;
        const std::string root = dir.file("parport");
        if (!c.root_missing)
            std::filesystem::create_directory(root);
        for (const entry& e : c.entries) {
            const std::string port = root + "/" + e.name;
            std::filesystem::create_directory(port);
            if (e.unreadable)
                std::filesystem::create_directory(port + "/base-addr");
            else if (e.contents != nullptr)
                write_file(port + "/base-addr", e.contents);
        }
        const parport_lookup found = find_parport(c.base, root);
        EXPECT_EQ(found.number, c.number) << c.title;
        EXPECT_EQ(found.error, c.error) << c.title;
    }
}

// Every port, for the probe to name when none has the base asked for: in
// numeric order, skipped as the search skips them.
TEST(ListParports, EveryPublishedPortInNumericOrder) {
    temp_dir dir;
    const std::string root = dir.file("parport");
    EXPECT_TRUE(list_parports(root).empty()) << "no parport driver";
    const std::pair<const char*, const char*> entries[] = {
        {"parport10", "888\t0\n"}, {"parport2", "60416\t0\n"}, {"parport3", "632\t0\n"},
        {"parport1", "garbage"},   {"default", "888\t0\n"},
    };
    for (const auto& [name, contents] : entries) {
        std::filesystem::create_directories(root + "/" + name);
        write_file(root + "/" + name + "/base-addr", contents);
    }
    const std::vector<parport_entry> listed = list_parports(root);
    std::vector<std::pair<int, std::uint16_t>> pairs;
    for (const parport_entry& port : listed)
        pairs.emplace_back(port.number, port.base);
    EXPECT_EQ(pairs,
              (std::vector<std::pair<int, std::uint16_t>>{{2, 0xEC00}, {3, 0x278}, {10, 0x378}}));
}

}  // namespace
