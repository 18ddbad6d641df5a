// Writes sfr.i, the register names card programs include, from the model's
// register list (cardcpu/cpu/sfr.h), so that the names and addresses the
// assembler knows are the ones the model runs by. The build runs it, builds
// its output into the assembler and installs the same file for users to
// read.
//
//   cardcpu_sfr_gen OUTPUT
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <string_view>

#include "cardcpu/cpu/sfr.h"

namespace {

constexpr std::string_view INTRODUCTION =
    "; sfr.i: the names of the card processor's special function registers\n"
    "; (0x100-0x17F) and of the register bits programs test and set by name.\n"
    "; Include it with\n"
    ";     .include \"sfr.i\"\n"
    "; The assembler has this file built in; a file of the same name beside the\n"
    "; source or in an -I folder takes its place.\n";

// The file's sections: each holds the registers from its address up to the
// next section's, then the bits of those registers.
struct section {
    std::uint16_t from;
    std::string_view heading;  // a line after the first begins "; " itself
};

constexpr section SECTIONS[] = {
    {0x100, "The processor core."},
    {0x110,
     "Timers. T0L and T0H are T0's counter, T0LR and T0HR its reload; T1L and\n"
     "; T1H give T1's counter when read and set its reload when written (a\n"
     "; stopped half's counter too). T1 counts every cycle."},
    {0x120, "The LCD and its XRAM."},
    {0x130, "Serial interfaces."},
    {0x140, "Ports."},
};

constexpr std::size_t NAME_WIDTH = 8;  // "name    equ ..."
constexpr std::size_t NOTE_COLUMN = 24;

// The list's names are upper case letters and digits (sfr.h checks it).
std::string lower(std::string_view name) {
    std::string text(name);
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// One definition, its note after it; a note's further lines stand under its
// first.
void define(std::string& out, std::string_view name, const std::string& value,
            std::string_view note) {
    std::string line = lower(name);
    line.resize(std::max(NAME_WIDTH, line.size() + 1), ' ');
    line += "equ " + value;
    while (!note.empty()) {
        const std::size_t end = std::min(note.find('\n'), note.size());
        line.resize(std::max(NOTE_COLUMN, line.size() + 1), ' ');
        line += "; ";
        line += note.substr(0, end);
        out += line + "\n";
        line.clear();
        note.remove_prefix(std::min(end + 1, note.size()));
    }
    if (!line.empty()) {
        out += line + "\n";
    }
}

std::string address_text(std::uint16_t address) {
    char text[8];
    std::snprintf(text, sizeof text, "$%03X", static_cast<unsigned>(address));
    return text;
}

void write_section(std::string& out, std::uint16_t from, std::uint16_t to,
                   std::string_view heading) {
    out += "\n; " + std::string(heading) + "\n";
    for (const vmu_sfr_info& row : vmu_sfr_infos) {
        if (row.address < from || row.address >= to) {
            continue;
        }
        define(out, row.name, address_text(row.address), row.note);
        for (const vmu_sfr_alias& alias : vmu_sfr_aliases) {
            if (alias.address == row.address) {
                define(out, alias.name, address_text(alias.address), "");
            }
        }
    }
    for (const vmu_sfr_info& row : vmu_sfr_infos) {
        if (row.address < from || row.address >= to) {
            continue;
        }
        bool first = true;
        for (const vmu_sfr_bit_info& bit : vmu_sfr_bits) {
            if (bit.address != row.address) {
                continue;
            }
            if (first) {
                out += "\n; " + std::string(row.name) + " bits.\n";
                first = false;
            }
            define(out, bit.name, std::to_string(bit.bit), bit.note);
        }
    }
}

std::string sfr_text() {
    std::string out(INTRODUCTION);
    for (std::size_t i = 0; i < std::size(SECTIONS); ++i) {
        const std::uint16_t to = i + 1 < std::size(SECTIONS) ? SECTIONS[i + 1].from : 0x180;
        write_section(out, SECTIONS[i].from, to, SECTIONS[i].heading);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: cardcpu_sfr_gen OUTPUT\n", stderr);
        return 2;
    }
    const std::string text = sfr_text();
    std::FILE* file = std::fopen(argv[1], "w");
    if (file == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !written) {
        std::fprintf(stderr, "cardcpu_sfr_gen: %s: could not be written\n", argv[1]);
        std::remove(argv[1]);  // so that the next build makes it again
        return 1;
    }
    return 0;
}
