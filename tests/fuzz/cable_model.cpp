// The model of a correct PC (see cable_model.h). A card byte is there to
// read unless the card waits for the PC, has run out, or stalls on it; a byte
// the PC sends is taken by a card that waits for one and is ignored
// otherwise.
#include "cable_model.h"

#include "cable_case.h"

namespace cable_fuzz {

namespace {

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

}  // namespace

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

}  // namespace cable_fuzz
