// The flash chip behind LDF and STF, as the system ROM drives it: a write
// goes to the chip as a command, never straight into its cells. With FPR
// bit 1 set the chip takes the three writes of its unlock sequence (0xAA at
// 0x5555, 0x55 at 0x2AAA, 0xA0 at 0x5555); it then loads the next 128
// writes, FPR bit 1 set or not, into the page of the first of them (the
// address's low 7 bits choose the byte), and programs the page once it has
// all 128. While it programs, every read gives its status instead of the
// cells: bit 7 the complement of the last byte loaded's (data polling) and
// bit 6 flipping at each read (toggle polling), the rest of that byte; the
// ROM waits on either. Writes outside the sequence, and while it programs,
// change nothing.
//
// The command addresses are compared on 16 bits: FPR bit 0, the chip's
// A16, is left as the ROM left it. How long a page takes is not measured on
// a card; PROGRAM_PS is what chips of the kind take typically.
#include "cardcpu/cpu/cpu_internal.h"

namespace {

constexpr std::uint64_t PROGRAM_PS = 5'000'000'000;  // 5 ms

struct unlock_write {
    std::uint16_t address;
    std::uint8_t value;
};

constexpr unlock_write UNLOCK[] = {{0x5555, 0xAA}, {0x2AAA, 0x55}, {0x5555, 0xA0}};
constexpr std::uint8_t UNLOCK_STEPS = 3;

bool programming(const vmu_cpu& cpu) {
    return cpu.time_ps < cpu.flash_chip.busy_until_ps;
}

void unlock_step(vmu_flash_chip& chip, std::uint16_t address, std::uint8_t value) {
    const unlock_write& expected = UNLOCK[chip.unlock];
    if (address == expected.address && value == expected.value) {
        if (++chip.unlock == UNLOCK_STEPS) {
            chip.unlock = 0;
            chip.to_load = VMU_FLASH_PAGE;
        }
        return;
    }
    // A write out of turn starts the sequence again, and may be its first.
    chip.unlock = address == UNLOCK[0].address && value == UNLOCK[0].value ? 1 : 0;
}

}  // namespace

std::uint8_t flash_read(vmu_cpu& cpu, std::uint32_t address) {
    vmu_flash_chip& chip = cpu.flash_chip;
    if (!programming(cpu)) {
        return cpu.flash[address];
    }
    chip.toggle = !chip.toggle;
    const auto status = static_cast<std::uint8_t>((chip.last ^ 0x80) & 0xBF);
    return static_cast<std::uint8_t>(status | (chip.toggle ? 0x40 : 0));
}

void flash_write(vmu_cpu& cpu, std::uint32_t address, std::uint8_t value) {
    vmu_flash_chip& chip = cpu.flash_chip;
    if (programming(cpu)) {
        return;
    }
    if (chip.to_load != 0) {
        if (chip.to_load == VMU_FLASH_PAGE) {
            chip.page = address & ~std::uint32_t{VMU_FLASH_PAGE - 1};
        }
        cpu.flash[chip.page | (address & (VMU_FLASH_PAGE - 1))] = value;
        chip.last = value;
        if (--chip.to_load == 0) {
            chip.busy_until_ps = cpu.time_ps + PROGRAM_PS;
        }
        return;
    }
    if ((sfr_at(cpu, vmu_sfr("FPR")) & 2) != 0) {
        unlock_step(chip, static_cast<std::uint16_t>(address), value);
    }
}
