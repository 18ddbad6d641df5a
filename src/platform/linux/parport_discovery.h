// Finding the kernel's parallel port at a given base address. The parport
// driver publishes every port it manages as a directory parportN under
// /proc/sys/dev/parport, whose file base-addr holds the port's base address;
// N is also the number of the ppdev node /dev/parportN.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

/// Where the kernel publishes its parallel ports.
inline constexpr const char* PARPORT_PROCFS_ROOT = "/proc/sys/dev/parport";

/// The base address in the text of a base-addr file: two decimal numbers
/// separated by a tab, the first being the base ("888\t1912\n" for 0x378).
/// Nothing when the text does not start with a decimal number that ends at a
/// tab, a newline or the end of the text, or when it exceeds 0xFFFF.
std::optional<std::uint16_t> parse_base_addr(std::string_view text);

/// The outcome of a search: the port number N, or -1 with an errno that says
/// why (the error opening `root`, usually ENOENT when no parport driver is
/// loaded; ENODEV when no published port has that base).
struct parport_lookup {
    int number = -1;
    int error = 0;
};

/// The lowest N whose `root`/parportN/base-addr names `base`. Entries that are
/// not named parportN, and files that cannot be read or parsed, are skipped.
parport_lookup find_parport(std::uint16_t base, const std::string& root = PARPORT_PROCFS_ROOT);

/// A port the kernel publishes: parportN and its base address.
struct parport_entry {
    int number = 0;
    std::uint16_t base = 0;
};

/// Every port published under `root`, by N, skipped as find_parport skips
/// them; empty when `root` cannot be read.
std::vector<parport_entry> list_parports(const std::string& root = PARPORT_PROCFS_ROOT);
