// Fuzz target for the cable: the fuzzer's bytes decide what the software
// card sends (headers, block codes, payload lengths and bytes, trailers, the
// name, the directory stamp, the start block's type and size) and how it
// misbehaves (late or no ready signal, a stall at any bit, frames dropped,
// repeated or not waiting for the PC, raw status values at chosen reads).
// The whole tool then runs through vmurx_core against that card, in a fresh
// directory, and what must always hold is checked:
//
// - nothing appears outside the run's directory, and at most one new entry,
//   a regular file, inside it;
// - whatever stood in the way of the output (a file, a symbolic link to a
//   file outside, a dangling link, a directory) is left exactly as it was;
// - status 0 only with a file of exactly blocks x 512 bytes that holds the
//   card's bytes under the name the card (or -n) gave, as an independent
//   model of the protocol reads them off the card's script;
// - any other status is 1 and leaves at most an empty file;
// - the port is released if it was acquired, and the PC never touched a
//   register other than the two of the link nor broke the line rules.
//
// A broken rule aborts with a message, so that libFuzzer keeps the input.
//
// Input layout, read front to back (missing bytes read as 0):
//   options   bit 0 -v; bit 1 -n out.bin; bits 2-4 what stands in the way of
//             the output name (1 file, 2 link to a file outside, 3 dangling
//             link, 4 directory); bit 5 a -d argument follows; bit 6 raw
//             status glitches follow; bit 7 the port is refused
//   [-d]      length (mod 16), then the characters
//   [refused] errno - 1 (mod 133)
//   ready     0-249 reads before ready; 250 the last read of the budget; 251
//             one read too late; 252 never; else 3 bytes little-endian
//   timing    hold 1 + t % 3, jitter t / 3 % 3; then the jitter's seed
//   stall     0 none, else bit s % 8 of the byte given by 2 bytes, with Ack
//             low when s & 8
//   file      type; size (below 0xF0: size % 4 blocks, else (size - 0xF0) x
//             17); 12 name bytes; 7 stamp bytes; the image's seed
//   [glitches] count (mod 9), then per glitch 3 bytes read number and the
//             raw status value
//   edits     5 bytes each until the end: frame (2 bytes), kind, a, b
#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "lpt/byte_exchange.h"
#include "lpt/lpt.h"
#include "main/program.h"
#include "main/vmurx.h"
#include "platform/platform.h"
#include "program_ended.h"
#include "vmu/vmu_sim.h"

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------
// The port: the software card, with raw status values put in its place at
// chosen reads.

struct glitch {
    std::uint64_t read;  // counted from 1
    std::uint8_t raw;
};

struct fuzz_port {
    vmu_sim card;
    std::vector<glitch> glitches;  // by read, each read at most once
    std::size_t next_glitch = 0;
};

fuzz_port port;

}  // namespace

bool port_acquire(std::uint16_t base) {
    if (port.card.refuse_errno != 0) {
        errno = port.card.refuse_errno;
        return false;
    }
    port.card.base = base;
    port.card.acquired = true;
    return true;
}

void port_release() {
    port.card.released = true;
}

std::uint8_t port_read(std::uint16_t address) {
    if (address != static_cast<std::uint16_t>(port.card.base + 1)) {
        port.card.stray.push_back({address, false});
        return 0xFF;
    }
    std::uint8_t raw = vmu_sim_status_read(port.card);
    if (port.next_glitch < port.glitches.size() &&
        port.glitches[port.next_glitch].read == port.card.status_reads) {
        raw = port.glitches[port.next_glitch++].raw;
    }
    return raw;
}

void port_write(std::uint16_t address, std::uint8_t value) {
    if (address != port.card.base) {
        port.card.stray.push_back({address, true});
        return;
    }
    vmu_sim_data_write(port.card, value);
}

void mask_interrupts() {
    port.card.masked = true;
}

void unmask_interrupts() {
    port.card.masked = false;
}

void sleep_ms(unsigned milliseconds) {
    port.card.slept_ms += milliseconds;
}

namespace {

// The link's busy-wait delay paces the PC's own bits for a real card; the
// software card counts time in status reads and never sees it. Without it a
// run is hundreds of times faster, and the tool's behaviour is the same.
void no_delay() {}

// ---------------------------------------------------------------------------
// Reading the input.

class input_reader {
public:
    input_reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return position_ >= size_; }
    std::uint8_t byte() { return empty() ? 0 : data_[position_++]; }
    std::uint32_t number(int bytes) {
        std::uint32_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= static_cast<std::uint32_t>(byte()) << (8 * i);
        return value;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

enum class obstacle { none, file, link_to_file, dangling_link, directory };

struct cable_case {
    std::vector<std::string> arguments;  // after the program name
    bool named = false;                  // -n out.bin
    obstacle in_the_way = obstacle::none;
    vmu_sim card;
    std::vector<glitch> glitches;
};

constexpr std::int64_t READY_BUDGET = std::int64_t{READY_TIMEOUT} * POLLS_PER_UNIT;

std::vector<std::uint8_t> seeded_image(std::size_t blocks, std::uint8_t seed) {
    std::vector<std::uint8_t> image(blocks * 512);
    std::uint32_t state = 0x9E3779B9U ^ seed;
    for (std::uint8_t& byte : image) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return image;
}

// One change to the card's frames.
void apply_edit(std::vector<vmu_frame>& frames, input_reader& in) {
    const std::size_t index = in.number(2) % frames.size();
    const std::uint8_t kind = in.byte();
    const std::uint8_t a = in.byte();
    const std::uint8_t b = in.byte();
    vmu_frame& frame = frames[index];
    switch (kind % 10) {
        case 0:
            frame.header = a;
            break;
        case 1:
            frame.code = a;
            break;
        case 2:
            frame.trailer = a;
            break;
        case 3:  // the payload no longer matches what the header announces
            frame.payload.resize(a, b);
            break;
        case 4:
            if (!frame.payload.empty())
                frame.payload[a % frame.payload.size()] = b;
            break;
        case 5:
            frame.await_answer = false;
            break;
        case 6:  // the card stops after this frame
            frames.resize(index + 1);
            break;
        case 7: {  // the frame comes twice
            const vmu_frame copy = frame;
            frames.insert(frames.begin() + static_cast<std::ptrdiff_t>(index), copy);
            break;
        }
        case 8:
            if (frames.size() > 1)
                frames.erase(frames.begin() + static_cast<std::ptrdiff_t>(index));
            break;
        default:  // a different length, announced truthfully
            frame.payload.resize(a % 2 == 0 ? 128 : 1 + a % 16, b);
            frame.header = vmu_header_for(frame.payload.size());
            break;
    }
}

cable_case decode(const std::uint8_t* data, std::size_t size) {
    input_reader in(data, size);
    cable_case c;
    const std::uint8_t options = in.byte();
    if ((options & 0x01) != 0)
        c.arguments.emplace_back("-v");
    c.named = (options & 0x02) != 0;
    if (c.named) {
        c.arguments.emplace_back("-n");
        c.arguments.emplace_back("out.bin");
    }
    const int kind = (options >> 2) & 0x07;
    c.in_the_way = kind <= 4 ? static_cast<obstacle>(kind) : obstacle::none;
    if ((options & 0x20) != 0) {
        std::string device;
        for (int length = in.byte() % 16; length > 0; --length) {
            const auto character = static_cast<char>(in.byte());
            device.push_back(character == '\0' ? '0' : character);
        }
        c.arguments.emplace_back("-d");
        c.arguments.push_back(device);
    }
    const bool glitched = (options & 0x40) != 0;
    if ((options & 0x80) != 0)
        c.card.refuse_errno = 1 + in.byte() % 133;

    const std::uint8_t ready = in.byte();
    if (ready < 250) {
        c.card.ready_after = ready;
    } else if (ready == 250) {
        c.card.ready_after = READY_BUDGET - 1;  // Select low at the budget's last read
    } else if (ready == 251) {
        c.card.ready_after = READY_BUDGET;
    } else if (ready == 252) {
        c.card.ready_after = VMU_NEVER;
    } else {
        c.card.ready_after = in.number(3);
    }
    const std::uint8_t timing = in.byte();
    c.card.hold = 1 + timing % 3;
    c.card.jitter = timing / 3 % 3;
    c.card.seed = in.byte();
    const std::uint8_t stall = in.byte();
    if (stall != 0) {
        c.card.stall_byte = in.number(2);
        c.card.stall_bit = stall % 8;
        c.card.stall_ack_low = (stall & 0x08) != 0;
    }

    vmu_file file;
    file.type = in.byte();
    const std::uint8_t size_byte = in.byte();
    const std::size_t blocks = size_byte >= 0xF0 ? (size_byte - 0xF0) * 17U : size_byte % 4U;
    file.name.clear();
    for (int i = 0; i < 12; ++i)
        file.name.push_back(static_cast<char>(in.byte()));
    for (std::uint8_t& digits : file.stamp)
        digits = in.byte();
    file.image = seeded_image(blocks, in.byte());
    c.card.frames = vmu_transfer_frames(file);

    if (glitched) {
        for (int count = in.byte() % 9; count > 0; --count) {
            const std::uint64_t read = 1 + in.number(3);
            c.glitches.push_back({read, in.byte()});
        }
        std::sort(c.glitches.begin(), c.glitches.end(),
                  [](const glitch& x, const glitch& y) { return x.read < y.read; });
        c.glitches.erase(
            std::unique(c.glitches.begin(), c.glitches.end(),
                        [](const glitch& x, const glitch& y) { return x.read == y.read; }),
            c.glitches.end());
    }
    while (!in.empty())
        apply_edit(c.card.frames, in);
    return c;
}

// ---------------------------------------------------------------------------
// An independent model of the PC's side of the protocol, run over the card's
// script: what a correct PC receives. A card byte is there to read unless the
// card waits for the PC, has run out, or stalls on it; a byte the PC sends is
// taken by a card that waits for one and is ignored otherwise.

struct wire_model {
    const std::vector<std::int16_t>& script;
    std::int64_t stall_byte;
    std::size_t step = 0;
    std::int64_t sent = 0;

    int read() {
        // Negative steps are waits for the PC (whatever byte they await).
        if (step >= script.size() || script[step] < 0 || sent == stall_byte)
            return -1;
        ++sent;
        return script[step++];
    }
    void send() {
        if (step < script.size() && script[step] < 0)
            ++step;
    }

    // One frame of the code `code` with at least `needed` payload bytes;
    // with `answer` the PC acknowledges it at once.
    bool frame(std::size_t needed, int code, bool answer, std::vector<std::uint8_t>& payload) {
        const int header = read();
        if (header < 0)
            return false;
        std::size_t length = 0;
        if (header == 0x50)
            length = 128;
        else if (header >= 0x10 && header <= 0x1F)
            length = static_cast<std::size_t>(header - 15);
        if (length == 0)
            return false;
        send();
        const int got_code = read();
        if (got_code < 0)
            return false;
        payload.clear();
        for (std::size_t i = 0; i < length; ++i) {
            const int byte = read();
            if (byte < 0)
                return false;
            payload.push_back(static_cast<std::uint8_t>(byte));
        }
        const int trailer = read();
        if (trailer < 0 || got_code != code || length < needed || (trailer != 0 && trailer != 0xFF))
            return false;
        if (answer)
            send();
        return true;
    }
};

struct model_result {
    bool complete = false;
    std::vector<std::uint8_t> image;
    std::vector<std::uint8_t> name;  // the name block's 12 bytes
};

model_result model_transfer(const vmu_sim& card) {
    model_result result;
    if (!card.frames_scripted || card.ready_after == VMU_NEVER || card.ready_after >= READY_BUDGET)
        return result;
    wire_model wire{card.script, card.stall_byte};
    std::vector<std::uint8_t> payload;
    if (!wire.frame(2, 2, false, payload) || (payload[0] != 0xCC && payload[0] != 0x33))
        return result;
    const std::size_t blocks = payload[1];
    wire.send();
    if (!wire.frame(12, 6, false, payload))
        return result;
    result.name.assign(payload.begin(), payload.begin() + 12);
    wire.send();
    for (std::size_t n = 0; n < blocks * 4; ++n) {
        if (!wire.frame(128, 4, true, payload))
            return result;
        result.image.insert(result.image.end(), payload.begin(), payload.begin() + 128);
        if (!wire.frame(1, 8, true, payload))
            return result;
    }
    result.complete = wire.frame(12, 3, true, payload) && wire.frame(1, 8, true, payload);
    return result;
}

// The file name a name block gives: it ends at a NUL or at a space after the
// first byte; '/' and control bytes become '_', and so does a leading '.'.
std::string name_from_block(const std::vector<std::uint8_t>& block) {
    std::string name;
    for (std::size_t i = 0; i < block.size() && i < 12; ++i) {
        if (block[i] == 0 || (i > 0 && block[i] == ' '))
            break;
        const bool unsafe = block[i] == '/' || block[i] < 0x20 || block[i] == 0x7F;
        name.push_back(unsafe ? '_' : static_cast<char>(block[i]));
    }
    if (!name.empty() && name[0] == '.')
        name[0] = '_';
    return name;
}

// ---------------------------------------------------------------------------
// The run's surroundings.

fs::path root;  // holds "run" and, for a link, the file outside it
int report_fd = 2;
int start_directory = -1;  // libFuzzer's paths are relative to it

[[noreturn]] void broken(const std::string& rule) {
    dprintf(report_fd, "cable fuzz: broken: %s\n", rule.c_str());
    std::abort();
}

void check(bool holds, const std::string& rule) {
    if (!holds)
        broken(rule);
}

std::string read_all(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

void write_all(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::set<std::string> entries(const fs::path& directory) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory))
        names.insert(entry.path().filename().string());
    return names;
}

// The process's open descriptors, without the one the listing itself used.
std::set<int> open_descriptors() {
    std::set<int> listed;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc/self/fd"))
        listed.insert(std::atoi(entry.path().filename().c_str()));
    std::set<int> descriptors;
    for (int descriptor : listed) {
        if (fcntl(descriptor, F_GETFD) != -1)
            descriptors.insert(descriptor);
    }
    return descriptors;
}

const char* const KEPT = "kept\n";
const char* const OUTSIDE = "outside\n";

// Puts what stands in the way of `name` into the run directory.
void place(obstacle kind, const fs::path& run, const std::string& name) {
    const fs::path path = run / name;
    switch (kind) {
        case obstacle::none:
            break;
        case obstacle::file:
            write_all(path, KEPT);
            break;
        case obstacle::link_to_file:
            write_all(root / "outside", OUTSIDE);
            fs::create_symlink("../outside", path);
            break;
        case obstacle::dangling_link:
            fs::create_symlink("../absent", path);
            break;
        case obstacle::directory:
            fs::create_directory(path);
            break;
    }
}

void check_obstacle(obstacle kind, const fs::path& run, const std::string& name) {
    const fs::path path = run / name;
    const fs::file_status status = fs::symlink_status(path);
    switch (kind) {
        case obstacle::none:
            break;
        case obstacle::file:
            check(fs::is_regular_file(status) && read_all(path) == KEPT, "existing file changed");
            break;
        case obstacle::link_to_file:
            check(fs::is_symlink(status) && fs::read_symlink(path) == "../outside",
                  "existing link changed");
            check(read_all(root / "outside") == OUTSIDE, "file behind a link changed");
            break;
        case obstacle::dangling_link:
            check(fs::is_symlink(status) && fs::read_symlink(path) == "../absent",
                  "dangling link changed");
            break;
        case obstacle::directory:
            check(fs::is_directory(status) && fs::is_empty(path), "existing directory changed");
            break;
    }
}

// What the tool did with this card, checked against the rules above.
void check_run(const cable_case& c, int status, const fs::path& run, const std::string& blocker) {
    check(status == 0 || status == 1, "status " + std::to_string(status));

    std::set<std::string> expected_root{"run"};
    if (c.in_the_way == obstacle::link_to_file && !blocker.empty())
        expected_root.insert("outside");
    check(entries(root) == expected_root, "something appeared outside the run's directory");
    if (!blocker.empty())
        check_obstacle(c.in_the_way, run, blocker);

    std::set<std::string> created = entries(run);
    if (c.in_the_way != obstacle::none)
        created.erase(blocker);
    check(created.size() <= 1, "more than one file");
    std::string made;
    if (!created.empty()) {
        made = *created.begin();
        check(fs::is_regular_file(fs::symlink_status(run / made)), "made something not a file");
    }

    const vmu_sim& card = port.card;
    check(card.stray.empty(), "a register outside the link was accessed");
    for (const std::string& complaint : card.complaints) {
        check(complaint.find("D4-D7") == std::string::npos &&
                  complaint.find("D1 changed") == std::string::npos,
              "the PC broke a line rule: " + complaint);
    }
    check(!card.acquired || card.released, "the port was not released");

    if (status != 0) {
        check(made.empty() || fs::file_size(run / made) == 0, "a failed run left data behind");
        return;
    }
    check(!made.empty(), "status 0 without a file");
    const std::string content = read_all(run / made);
    if (!c.glitches.empty()) {
        // Raw status values may change what was received; the file must
        // still be whole blocks.
        check(content.size() % 512 == 0 && content.size() <= 255 * 512, "file of broken size");
        return;
    }
    const model_result expected = model_transfer(card);
    check(expected.complete, "status 0 where the card's frames cannot make a transfer");
    check(content == std::string(expected.image.begin(), expected.image.end()),
          "the file does not hold the card's bytes");
    check(made == (c.named ? "out.bin" : name_from_block(expected.name)), "wrong file name");
}

// Back to the program's state at start-up, as a new process would have it.
void reset_program_state() {
    device_name = "LPT1:";
    verbose = 0;
    release_file_buffer();
    std::memset(&vmu_port, 0, sizeof vmu_port);
    echo_byte = ECHO_INITIAL;
    optind = 0;  // glibc: a full restart of getopt's scan
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Keep a way to report, then send the tool's own output to /dev/null.
    set_delay_function(no_delay);
    report_fd = dup(2);
    start_directory = open(".", O_RDONLY | O_DIRECTORY);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);

    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vmurx-cable-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("cable fuzz: mkdtemp");
        std::exit(1);
    }
    root = pattern;
    std::atexit([] {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const cable_case c = decode(data, size);

    const fs::path run = root / "run";
    for (const fs::directory_entry& entry : fs::directory_iterator(root))
        fs::remove_all(entry.path());
    fs::create_directory(run);
    // The name the tool will try: -n's, or the one of the name block the card
    // holds.
    std::vector<std::uint8_t> name_block;
    if (c.card.frames.size() > 1)
        name_block = c.card.frames[1].payload;
    const std::string blocker = c.in_the_way == obstacle::none ? ""
                                : c.named                      ? "out.bin"
                                                               : name_from_block(name_block);
    if (!blocker.empty())
        place(c.in_the_way, run, blocker);

    reset_program_state();
    port = fuzz_port{c.card, c.glitches, 0};
    std::vector<std::string> arguments{"vmurx"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    const std::set<int> descriptors = open_descriptors();
    if (chdir(run.c_str()) != 0)
        broken("cannot enter the run's directory");
    int status = -1;
    try {
        vmurx_main(static_cast<int>(arguments.size()), argv.data());
    } catch (const program_ended& ended) {
        status = ended.status;
    }
    if (fchdir(start_directory) != 0)
        broken("cannot return to the starting directory");
    // A failed transfer leaves its output stream for the process exit to
    // close; here the process goes on, so the descriptor is closed instead.
    for (int descriptor : open_descriptors()) {
        if (descriptors.count(descriptor) == 0)
            close(descriptor);
    }

    check_run(c, status, run, blocker);
    return 0;
}
