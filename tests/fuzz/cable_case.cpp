// Reading the cable fuzz target's input into a case (see cable_case.h).
#include "cable_case.h"

#include <algorithm>

namespace cable_fuzz {

namespace {

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
            frame.header = cable_header_for(frame.payload.size());
            break;
    }
}

// The options byte and what it announces: the tool's command line, what
// stands in the way, a refused port. Returns whether glitches follow later.
bool read_options(input_reader& in, cable_case& c) {
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
    if ((options & 0x80) != 0)
        c.card.refuse_errno = 1 + in.byte() % 133;
    return (options & 0x40) != 0;
}

// When the card signals ready, its clock's timing, and where it stalls.
void read_timing(input_reader& in, vmu_sim& card) {
    const std::uint8_t ready = in.byte();
    if (ready < 250) {
        card.ready_after = ready;
    } else if (ready == 250) {
        card.ready_after = READY_BUDGET - 1;  // Select low at the budget's last read
    } else if (ready == 251) {
        card.ready_after = READY_BUDGET;
    } else if (ready == 252) {
        card.ready_after = VMU_NEVER;
    } else {
        card.ready_after = in.number(3);
    }
    const std::uint8_t timing = in.byte();
    card.hold = 1 + timing % 3;
    card.jitter = timing / 3 % 3;
    card.seed = in.byte();
    const std::uint8_t stall = in.byte();
    if (stall != 0) {
        card.stall_byte = in.number(2);
        card.stall_bit = stall % 8;
        card.stall_ack_low = (stall & 0x08) != 0;
    }
}

// The file the card sends, as the frames of a whole transfer.
std::vector<vmu_frame> read_file(input_reader& in) {
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
    return vmu_transfer_frames(file);
}

// Raw status values at chosen reads, by read, each read at most once.
std::vector<glitch> read_glitches(input_reader& in) {
    std::vector<glitch> glitches;
    for (int count = in.byte() % 9; count > 0; --count) {
        const std::uint64_t read = 1 + in.number(3);
        glitches.push_back({read, in.byte()});
    }
    std::sort(glitches.begin(), glitches.end(),
              [](const glitch& x, const glitch& y) { return x.read < y.read; });
    glitches.erase(std::unique(glitches.begin(), glitches.end(),
                               [](const glitch& x, const glitch& y) { return x.read == y.read; }),
                   glitches.end());
    return glitches;
}

}  // namespace

cable_case decode(const std::uint8_t* data, std::size_t size) {
    input_reader in(data, size);
    cable_case c;
    const bool glitched = read_options(in, c);
    read_timing(in, c.card);
    c.card.frames = read_file(in);
    if (glitched)
        c.glitches = read_glitches(in);
    while (!in.empty())
        apply_edit(c.card.frames, in);
    return c;
}

}  // namespace cable_fuzz
