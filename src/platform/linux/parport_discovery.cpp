// Searching the kernel's list of parallel ports for a base address. Plain
// POSIX calls only (opendir/readdir, open/read), so that the whole search is
// visible to, and can be redirected by, anything that stands in for the
// kernel.
#include "platform/linux/parport_discovery.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// N from a directory entry named parportN (decimal digits only), or -1.
int port_number(const char* entry) {
    constexpr std::string_view prefix = "parport";
    std::string_view name(entry);
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix)
        return -1;
    name.remove_prefix(prefix.size());
    if (name.size() > 6)
        return -1;
    int number = 0;
    for (char c : name) {
        if (c < '0' || c > '9')
            return -1;
        number = number * 10 + (c - '0');
    }
    return number;
}

// The first bytes of a small file, or nothing when it cannot be read.
std::optional<std::string> read_small_file(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    char buffer[64];
    ssize_t got;
    do {
        got = read(fd, buffer, sizeof buffer);
    } while (got < 0 && errno == EINTR);
    close(fd);
    if (got < 0)
        return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(got));
}

}  // namespace

std::optional<std::uint16_t> parse_base_addr(std::string_view text) {
    std::size_t digits = 0;
    unsigned long value = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        value = value * 10 + static_cast<unsigned long>(text[digits] - '0');
        if (value > 0xFFFF)
            return std::nullopt;
        ++digits;
    }
    if (digits == 0)
        return std::nullopt;
    if (digits < text.size() && text[digits] != '\t' && text[digits] != '\n')
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

namespace {

// Calls `visit` with N and the base of each published port, in the order of
// the directory. The error of opening `root`, or 0.
template <typename Visit>
int each_parport(const std::string& root, Visit visit) {
    DIR* directory = opendir(root.c_str());
    if (directory == nullptr)
        return errno;
    while (const dirent* entry = readdir(directory)) {
        const int number = port_number(entry->d_name);
        if (number < 0)
            continue;
        const auto text = read_small_file(root + "/" + entry->d_name + "/base-addr");
        if (const auto base = text ? parse_base_addr(*text) : std::nullopt)
            visit(number, *base);
    }
    closedir(directory);
    return 0;
}

}  // namespace

parport_lookup find_parport(std::uint16_t base, const std::string& root) {
    parport_lookup found{-1, ENODEV};
    const int error = each_parport(root, [&](int number, std::uint16_t port_base) {
        if (port_base == base && (found.number < 0 || number < found.number))
            found = {number, 0};
    });
    return error != 0 ? parport_lookup{-1, error} : found;
}

std::vector<parport_entry> list_parports(const std::string& root) {
    std::vector<parport_entry> ports;
    each_parport(root, [&](int number, std::uint16_t base) { ports.push_back({number, base}); });
    std::sort(ports.begin(), ports.end(),
              [](const parport_entry& a, const parport_entry& b) { return a.number < b.number; });
    return ports;
}
